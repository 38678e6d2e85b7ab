// Analysis benchmark: a generated set of sound files (16- and 24-bit WAV and
// 16-bit FLAC, stereo, 48 kHz, a few seconds each, as a library's effects
// are). Prints the floor (each file opened and decoded by libsndfile into
// 32-bit integers, nothing else) and the analysis of the same files (the
// same decode, the audio hash and the EBU R128 meter in one pass), each the
// median of the repetitions, on one thread. Then the window analyses them in
// the background after an import: how long it takes, and the longest wait
// between two turns of its event loop meanwhile.

#include "benchdata.h"
#include "importer/folderimport.h"
#include "reconcile/audioanalysis.h"
#include "window/form1.h"
#include "window/listsnapshot.h"

#include <sndfile.h>

#include <sys/resource.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace kalvero;
using bench::cpuMs;
using bench::median;

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;

struct Kind {
    const char* suffix;
    int format;
};
const Kind kKinds[] = {{"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                       {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                       {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16}};

// Makes the set once: a decaying tone over noise, so neither the meter nor
// FLAC meets only silence.
QStringList cachedSet(const QString& cacheRoot, int files, double seconds) {
    const QString root =
        QDir(cacheRoot).filePath(QStringLiteral("analysis-set-%1-%2s").arg(files).arg(seconds));
    const QString done = root + QStringLiteral("/.complete");
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        const Kind& kind = kKinds[i % 3];
        paths << QStringLiteral("%1/sound %2.%3")
                     .arg(root)
                     .arg(i, 5, 10, QLatin1Char('0'))
                     .arg(QLatin1String(kind.suffix));
    }
    if (QFile::exists(done)) return paths;
    QDir(root).removeRecursively();
    QDir().mkpath(root);
    std::fprintf(stderr, "generating %d sound files under %s...\n", files, qPrintable(root));
    const int frames = int(kRate * seconds);
    std::vector<int> samples(size_t(frames) * kChannels);
    quint32 seed = 1;
    for (int i = 0; i < files; ++i) {
        const double pitch = 110.0 * (1 + i % 24);
        for (int f = 0; f < frames; ++f) {
            const double tone =
                0.5 * std::exp(-3.0 * f / frames) * std::sin(2 * M_PI * pitch * f / kRate);
            for (int c = 0; c < kChannels; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const double hiss = (int(seed >> 16) - 32768) / 32768.0 * 0.02;
                samples[size_t(f) * kChannels + size_t(c)] =
                    int(std::lround((tone + hiss) * 2147483647.0 * 0.9));
            }
        }
        SF_INFO info{};
        info.format = kKinds[i % 3].format;
        info.channels = kChannels;
        info.samplerate = kRate;
        SNDFILE* file = sf_open(QFile::encodeName(paths[i]).constData(), SFM_WRITE, &info);
        if (!file) qFatal("cannot write %s", qPrintable(paths[i]));
        sf_writef_int(file, samples.data(), frames);
        sf_close(file);
    }
    QFile mark(done);
    mark.open(QIODevice::WriteOnly);
    return paths;
}

// The floor: every file decoded as the analysis decodes it, into the same
// size of buffer, and nothing done with the samples.
qint64 floorRun(const QStringList& paths) {
    qint64 frames = 0;
    std::vector<int> buffer(4096 * kChannels);
    for (const QString& path : paths) {
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        if (!file) qFatal("cannot read %s", qPrintable(path));
        while (const sf_count_t n = sf_readf_int(file, buffer.data(), 4096)) frames += n;
        sf_close(file);
    }
    return frames;
}

qint64 analysisRun(const QStringList& paths) {
    qint64 frames = 0;
    for (const QString& path : paths) {
        QString error;
        const auto result = reconcile::analyseSoundFile(path, &error);
        if (!result) qFatal("cannot analyse %s: %s", qPrintable(path), qPrintable(error));
        frames += result->frames;
    }
    return frames;
}

// The window's message boxes answered at once.
class SilentDialogs : public window::UserDialogs {
public:
    QMessageBox::StandardButton message(QWidget*, const QString&, const QString&,
                                        QMessageBox::StandardButtons, QMessageBox::StandardButton,
                                        QMessageBox::Icon) override {
        return QMessageBox::Ok;
    }
};

// The window on a catalogue of `paths`, analysing them in the background.
void windowRun(const QStringList& paths) {
    QTemporaryDir program;
    const QString catalogue = program.filePath(QString::fromLatin1(store::Catalogue::kFileName));
    importer::createCatalogueIfMissing(catalogue);
    importer::ImportProgress imported;
    if (importer::importPaths(catalogue, paths, imported).added != paths.size())
        qFatal("the files were not all imported");
    window::Form1Services services;
    services.dialogs = std::make_shared<SilentDialogs>();
    window::Form1 form(program.path(), services);
    form.show();
    QElapsedTimer sinceTurn;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTurn.elapsed());
        sinceTurn.restart();
    });
    QSignalSpy finished(form.analysis(), &reconcile::BackgroundAnalysis::finished);
    QElapsedTimer clock;
    clock.start();
    sinceTurn.start();
    ticker.start(5);
    form.startAnalysis();
    if (!finished.wait(3'600'000)) qFatal("the window's analysis did not finish");
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    std::printf("  %-44s %9.0f ms  (lowest priority, batches stored by the window)\n",
                "the window's background analysis", ms);
    std::printf("  %-44s %9lld ms  (target <= 50)\n", "longest event-loop gap during it",
                longestGap);
    std::printf("  %-44s %9s\n", "entries still answered from memory",
                form.listSnapshot().isHeld() ? "yes" : "no");
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption cacheOption(QStringLiteral("cache"), QStringLiteral("Cache folder."),
                                         QStringLiteral("DIR"), QStringLiteral("bench-cache"));
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Sound files."),
                                         QStringLiteral("N"), QStringLiteral("300"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Length of each file."),
                                           QStringLiteral("S"), QStringLiteral("4"));
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Repetitions."),
                                        QStringLiteral("N"), QStringLiteral("3"));
    parser.addOptions({cacheOption, filesOption, secondsOption, repsOption});
    parser.process(app);
    const int files = std::max(3, parser.value(filesOption).toInt());
    const double seconds = std::max(0.5, parser.value(secondsOption).toDouble());
    const int reps = std::max(1, parser.value(repsOption).toInt());
    QDir().mkpath(parser.value(cacheOption));
    const QStringList paths = cachedSet(parser.value(cacheOption), files, seconds);

    const qint64 expected = floorRun(paths);  // warms the file system's caches
    std::vector<double> floors, analyses, floorCpu, analysisCpu;
    for (int r = 0; r < reps; ++r) {
        QElapsedTimer clock;
        clock.start();
        double cpu = cpuMs();
        if (floorRun(paths) != expected) qFatal("the floor decoded another number of frames");
        floors.push_back(double(clock.nsecsElapsed()) / 1e6);
        floorCpu.push_back(cpuMs() - cpu);

        clock.restart();
        cpu = cpuMs();
        if (analysisRun(paths) != expected) qFatal("the analysis read another number of frames");
        analyses.push_back(double(clock.nsecsElapsed()) / 1e6);
        analysisCpu.push_back(cpuMs() - cpu);
    }
    const double floorMs = median(floors);
    std::printf(
        "Analysis of %d sound files of %g s (16/24-bit WAV, 16-bit FLAC, stereo, 48 kHz; "
        "median of %d runs, one thread)\n",
        files, seconds, reps);
    std::printf("  %-44s %9s %19s %10s\n", "", "wall", "", "CPU");
    std::printf("  %-44s %9.0f ms %19s %7.0f ms\n", "floor: decode each file with libsndfile",
                floorMs, "", median(floorCpu));
    std::printf("  %-44s %9.0f ms  %5.2f x floor %7.0f ms  (target <= 1.3 x)\n",
                "analysis: decode + SHA-256 + EBU R128", median(analyses),
                median(analyses) / floorMs, median(analysisCpu));
    windowRun(paths);
    return 0;
}
