// Rescan benchmark: the import benchmark's tree of small WAV files, imported
// once; then, as the median of the repetitions, the floor (the walk alone,
// nothing opened or looked at), a rescan of the tree's folder with nothing
// changed, and a rescan of every folder that holds entries (the default of
// kalvero-cli rescan), each as a ratio to the floor. Between them, for
// comparison, the walk with one stat of each file: the walk lists files by
// their type alone, and a rescan needs each one's size and time.

#include "benchdata.h"
#include "importer/folderimport.h"
#include "importer/soundwalk.h"
#include "reconcile/rescan.h"

#include <sys/stat.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

using namespace kalvero;
using bench::cpuMs;
using bench::median;

namespace {

qint64 walkOnly(const QString& tree) {
    importer::WalkCounts counts;
    qint64 found = 0;
    importer::walkSoundFiles({tree}, counts, [&found](const QByteArray&) {
        ++found;
        return true;
    });
    return found;
}

// The walk with one stat per file, by its path (`inFolder` false) or in its
// folder as the rescan does: what no rescan that notices changed files can do without.
qint64 walkAndStat(const QString& tree, bool inFolder) {
    importer::WalkCounts counts;
    qint64 found = 0;
    if (inFolder) {
        importer::walkSoundFilesWithStat({tree}, counts,
                                         [&found](const QByteArray&, const struct stat& st) {
                                             found += st.st_size > 0;
                                             return true;
                                         });
    } else {
        importer::walkSoundFiles({tree}, counts, [&found](const QByteArray& path) {
            struct stat st {};
            found += ::stat(path.constData(), &st) == 0;
            return true;
        });
    }
    return found;
}

reconcile::RescanResult rescan(const QString& catalogue, const QStringList& folders, int files) {
    reconcile::RescanProgress progress;
    reconcile::RescanResult result = reconcile::rescanFolders(catalogue, folders, progress);
    if (result.failure || result.cancelled || result.found != files || result.unchanged != files ||
        result.changed != 0 || result.import.added != 0 || !result.gone.isEmpty())
        qFatal("unexpected rescan: %lld found, %lld unchanged, %lld changed, %lld added, %lld gone",
               result.found, result.unchanged, result.changed, result.import.added,
               qint64(result.gone.size()));
    return result;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption cacheOption(QStringLiteral("cache"), QStringLiteral("Cache folder."),
                                         QStringLiteral("DIR"), QStringLiteral("bench-cache"));
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Sound files."),
                                         QStringLiteral("N"), QStringLiteral("100000"));
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Repetitions."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    parser.addOptions({cacheOption, filesOption, repsOption});
    parser.process(app);
    const int files = parser.value(filesOption).toInt();
    const int reps = std::max(1, parser.value(repsOption).toInt());
    QDir().mkpath(parser.value(cacheOption));
    const QString tree = bench::cachedSoundTree(parser.value(cacheOption), files);

    QTemporaryDir scratch;
    const QString catalogue = scratch.filePath(QStringLiteral("Kalverodb.mdb"));
    importer::createCatalogueIfMissing(catalogue);
    importer::ImportProgress imported;
    if (importer::importPaths(catalogue, {tree}, imported).added != files)
        qFatal("the import did not add every file");

    walkOnly(tree);  // warms the file system's caches for every run below
    std::vector<double> walks, given, all, walkCpu, givenCpu, allCpu, byPath, inFolder;
    qsizetype folders = 0;
    for (int r = 0; r < reps; ++r) {
        QElapsedTimer clock;
        clock.start();
        double cpu = cpuMs();
        if (walkOnly(tree) != files) qFatal("the walk did not find every file");
        walks.push_back(double(clock.nsecsElapsed()) / 1e6);
        walkCpu.push_back(cpuMs() - cpu);

        clock.restart();
        if (walkAndStat(tree, false) != files) qFatal("a file could not be looked at");
        byPath.push_back(double(clock.nsecsElapsed()) / 1e6);
        clock.restart();
        if (walkAndStat(tree, true) != files) qFatal("a file could not be looked at");
        inFolder.push_back(double(clock.nsecsElapsed()) / 1e6);

        clock.restart();
        cpu = cpuMs();
        rescan(catalogue, {tree}, files);
        given.push_back(double(clock.nsecsElapsed()) / 1e6);
        givenCpu.push_back(cpuMs() - cpu);

        clock.restart();
        cpu = cpuMs();
        folders = rescan(catalogue, {}, files).folders.size();
        all.push_back(double(clock.nsecsElapsed()) / 1e6);
        allCpu.push_back(cpuMs() - cpu);
    }
    const double floorMs = median(walks);
    std::printf(
        "Rescan of %d small WAV files in 1000 folders, nothing changed (median of %d runs)\n",
        files, reps);
    std::printf("  %-44s %9s %19s %10s\n", "", "wall", "", "CPU (all threads)");
    std::printf("  %-44s %9.0f ms %19s %7.0f ms\n", "floor: the walk alone", floorMs, "",
                median(walkCpu));
    std::printf("  %-44s %9.0f ms  %5.2f x floor\n", "the walk and a stat of each file by path",
                median(byPath), median(byPath) / floorMs);
    std::printf("  %-44s %9.0f ms  %5.2f x floor\n",
                "the walk and a stat of each file in its folder", median(inFolder),
                median(inFolder) / floorMs);
    std::printf("  %-44s %9.0f ms  %5.2f x floor %7.0f ms  (target <= 1.2 x)\n",
                "rescan of the tree's folder", median(given), median(given) / floorMs,
                median(givenCpu));
    std::printf("  %-44s %9.0f ms  %5.2f x floor %7.0f ms  (%lld folders)\n",
                "rescan of every folder with entries", median(all), median(all) / floorMs,
                median(allCpu), qint64(folders));
    return 0;
}
