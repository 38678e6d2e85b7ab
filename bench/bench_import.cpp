// Import benchmark: a generated tree of small real WAV files in nested
// folders, with some files of other kinds. Prints, in one run, the floor
// (walking the tree and opening every file with libsndfile, nothing stored),
// the first import into an empty catalogue and a second import that skips
// everything, each as the median of the repetitions; the same for a tree of
// tagged files of every kind the import reads tags from (WAV with bext and
// iXML, FLAC, MP3, Ogg Vorbis, Opus); then the longest wait between two turns
// of the window's event loop while the window imports the first tree.

#include "benchdata.h"
#include "importer/folderimport.h"
#include "importer/soundwalk.h"
#include "taggedsounds.h"
#include "window/form1.h"

#include <sndfile.h>

#include <sys/resource.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kalvero;
using bench::cpuMs;
using bench::median;

namespace {

// Makes the tagged tree once: 100 folders, the kinds in turn, every file with
// its own tags (written by libsndfile, TagLib and our own chunk writer), every
// other one named by the UCS convention.
QString cachedTaggedTree(const QString& cacheRoot, int files) {
    using test::SoundKind;
    const QString root = QDir(cacheRoot).filePath(QStringLiteral("tagged-tree-%1").arg(files));
    const QString done = root + QStringLiteral("/.complete");
    if (QFile::exists(done)) return root;
    QDir(root).removeRecursively();
    std::fprintf(stderr, "generating %d tagged files under %s...\n", files, qPrintable(root));
    const SoundKind kinds[] = {SoundKind::Wav, SoundKind::Flac, SoundKind::Mp3, SoundKind::Vorbis,
                               SoundKind::Opus};
    const char* extensions[] = {"wav", "flac", "mp3", "ogg", "opus"};
    for (int i = 0; i < files; ++i) {
        const int kind = i % 5;
        const QString dir =
            QStringLiteral("%1/Library %2").arg(root).arg(i % 100, 2, 10, QLatin1Char('0'));
        QDir().mkpath(dir);
        const QString take = QStringLiteral("Take %1").arg(i, 5, 10, QLatin1Char('0'));
        const QString name = i % 2 ? QStringLiteral("DOORWood_%1_JD_BENCH").arg(take) : take;
        QStringList tags;
        if (kinds[kind] == SoundKind::Wav) {
            tags << QStringLiteral("bext:DESCRIPTION=Door %1, slow creak").arg(i)
                 << QStringLiteral("bext:ORIGINATOR=Bench")
                 << QStringLiteral(
                        "ixml:<BWFXML><USER><CATID>DOORWood</CATID><FXNAME>%1</FXNAME>"
                        "<LIBRARY>Bench Library</LIBRARY><KEYWORDS>door, creak"
                        "</KEYWORDS></USER></BWFXML>")
                        .arg(take);
        } else {
            const QString place =
                kinds[kind] == SoundKind::Mp3 ? QStringLiteral("id3:") : QStringLiteral("xiph:");
            tags << place + QStringLiteral("TITLE=") + take
                 << place + QStringLiteral("COMMENT=Door %1, slow creak").arg(i)
                 << place + QStringLiteral("ARTIST=Bench")
                 << place + QStringLiteral("ALBUM=Bench Library");
        }
        const QString path =
            QStringLiteral("%1/%2.%3").arg(dir, name, QLatin1String(extensions[kind]));
        const QString fault = test::writeTaggedSound(path, kinds[kind], tags);
        if (!fault.isEmpty()) qFatal("cannot write %s: %s", qPrintable(path), qPrintable(fault));
    }
    QFile mark(done);
    mark.open(QIODevice::WriteOnly);
    return root;
}

// The floor: the same walk, each file opened and closed by libsndfile.
qint64 floorRun(const QString& tree) {
    importer::WalkCounts counts;
    qint64 opened = 0;
    importer::walkSoundFiles({tree}, counts, [&opened](const QByteArray& path) {
        SF_INFO info{};
        if (SNDFILE* f = sf_open(path.constData(), SFM_READ, &info)) {
            sf_close(f);
            ++opened;
        }
        return true;
    });
    return opened;
}

// Times the floor, a first import into an empty catalogue and a second one
// that skips everything, and prints the medians.
void timeImports(const QString& tree, int files, int reps, const QString& title) {
    floorRun(tree);  // warms the file system's caches for every run below
    std::vector<double> floors, firsts, seconds, floorCpu, firstCpu, secondCpu;
    for (int r = 0; r < reps; ++r) {
        QElapsedTimer clock;
        clock.start();
        double cpu = cpuMs();
        const qint64 opened = floorRun(tree);
        floors.push_back(double(clock.nsecsElapsed()) / 1e6);
        floorCpu.push_back(cpuMs() - cpu);
        if (opened != files) qFatal("the floor opened %lld files, not %d", opened, files);

        QTemporaryDir scratch;
        const QString catalogue = scratch.filePath(QStringLiteral("Kalverodb.mdb"));
        importer::createCatalogueIfMissing(catalogue);
        importer::ImportProgress p1, p2;
        clock.restart();
        cpu = cpuMs();
        const importer::ImportResult first = importer::importPaths(catalogue, {tree}, p1);
        firsts.push_back(double(clock.nsecsElapsed()) / 1e6);
        firstCpu.push_back(cpuMs() - cpu);
        clock.restart();
        cpu = cpuMs();
        const importer::ImportResult second = importer::importPaths(catalogue, {tree}, p2);
        seconds.push_back(double(clock.nsecsElapsed()) / 1e6);
        secondCpu.push_back(cpuMs() - cpu);
        if (first.failure || first.added != files || first.unreadable != 0 || second.added != 0 ||
            second.skipped != files)
            qFatal(
                "unexpected import result: added %lld (%lld unreadable), then %lld added and "
                "%lld skipped",
                first.added, first.unreadable, second.added, second.skipped);
    }
    const double floorMs = median(floors);
    std::printf("%s\n", qPrintable(title));
    std::printf("  %-44s %9s %19s %10s\n", "", "wall", "", "CPU (all threads)");
    std::printf("  %-44s %9.0f ms %19s %7.0f ms\n", "floor: walk + open each file with libsndfile",
                floorMs, "", median(floorCpu));
    std::printf("  %-44s %9.0f ms  %5.2f x floor %7.0f ms  (target <= 1.5 x)\n", "first import",
                median(firsts), median(firsts) / floorMs, median(firstCpu));
    std::printf("  %-44s %9.0f ms  %5.2f x floor %7.0f ms  (target <= 1.2 x)\n",
                "second import (skips all)", median(seconds), median(seconds) / floorMs,
                median(secondCpu));
    std::fflush(stdout);
}

// Answers the window's message boxes at once.
class SilentDialogs : public window::UserDialogs {
public:
    QMessageBox::StandardButton message(QWidget*, const QString&, const QString& text,
                                        QMessageBox::StandardButtons, QMessageBox::StandardButton,
                                        QMessageBox::Icon) override {
        last = text;
        return QMessageBox::Ok;
    }
    QString last;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption cacheOption(QStringLiteral("cache"), QStringLiteral("Cache folder."),
                                         QStringLiteral("DIR"), QStringLiteral("bench-cache"));
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Sound files."),
                                         QStringLiteral("N"), QStringLiteral("100000"));
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Repetitions."),
                                        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption taggedOption(QStringLiteral("tagged-files"),
                                          QStringLiteral("Tagged sound files (0: none)."),
                                          QStringLiteral("N"), QStringLiteral("10000"));
    parser.addOptions({cacheOption, filesOption, repsOption, taggedOption});
    parser.process(app);
    const int files = parser.value(filesOption).toInt();
    const int taggedFiles = parser.value(taggedOption).toInt();
    const int reps = std::max(1, parser.value(repsOption).toInt());
    QDir().mkpath(parser.value(cacheOption));
    const QString tree = bench::cachedSoundTree(parser.value(cacheOption), files);

    timeImports(tree, files, reps,
                QStringLiteral("Import of %1 small WAV files in %2 folders (median of %3 runs)")
                    .arg(files)
                    .arg(1000)
                    .arg(reps));
    if (taggedFiles > 0) {
        const QString tagged = cachedTaggedTree(parser.value(cacheOption), taggedFiles);
        std::printf("\n");
        timeImports(tagged, taggedFiles, reps,
                    QStringLiteral("Import of %1 tagged files (WAV with bext and iXML, FLAC, MP3, "
                                   "Ogg Vorbis, Opus) in 100 folders (median of %2 runs)")
                        .arg(taggedFiles)
                        .arg(reps));
    }

    // The window importing the same tree: the longest wait between two turns
    // of its event loop while the progress dialog is up.
    QTemporaryDir program;
    auto dialogs = std::make_shared<SilentDialogs>();
    window::Form1Services services;
    services.dialogs = dialogs;
    window::Form1 form(program.path(), services);
    form.show();
    QElapsedTimer sinceTurn;
    qint64 longestGap = 0;
    bool importing = false;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const QWidget* modal = QApplication::activeModalWidget();
        const bool now = modal && modal->objectName() == QLatin1String("ImportProgress");
        if (now && importing) longestGap = std::max(longestGap, sinceTurn.elapsed());
        importing = now;
        sinceTurn.restart();
    });
    sinceTurn.start();
    ticker.start(5);
    QElapsedTimer clock;
    clock.start();
    form.importPaths({tree});
    const double windowMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("  %-44s %9.0f ms  (import, reload of %d rows and summary)\n",
                "the window's Import Folder", windowMs, files);
    std::printf("  %-44s %9lld ms  (target <= 100)\n", "longest event-loop gap during it",
                longestGap);
    std::printf("  summary: %s\n", qPrintable(dialogs->last));
    return 0;
}
