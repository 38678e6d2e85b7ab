// Auditioning with "Play on Selection": from the key that moves the list's
// selection to the first samples of the new sound at the sound device. The
// real window and the real player KZW4, its output going to a file through
// SDL's disk driver, which the benchmark watches.
//
//   bench_audition <folder holding KZW4> [hand-overs] [process starts]
//
// Measured twice: with the player running, so that the sound is handed to it
// over its socket, and, for comparison, with no player running, so that the
// key starts a player process, as every play did before.

#include "prefs/options.h"
#include "store/catalogue.h"
#include "store/statements.h"
#include "window/form1.h"
#include "window/listview1.h"

#include <signal.h>
#include <sndfile.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kalvero;

namespace {

constexpr int kRate = 48000;
constexpr int kSounds = 6;
constexpr double kTargetMs = 50;

// Each sound holds one level throughout, so any sample at the device tells
// which sound it came from.
float levelOf(int sound) { return 0.125f * float(sound + 1); }

bool writeLevel(const QString& path, float level, int seconds) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    const std::vector<float> samples(size_t(kRate) * 2, level);
    bool whole = true;
    for (int s = 0; s < seconds; ++s)
        whole &= sf_writef_float(file, samples.data(), kRate) == kRate;
    return sf_close(file) == 0 && whole;
}

// The players started from `program` that run.
std::vector<qint64> runningPlayers(const QString& program) {
    std::vector<qint64> found;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (pid.toLongLong() <= 0 || !cmdline.open(QIODevice::ReadOnly)) continue;
        if (stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z")) continue;
        if (cmdline.readAll().split('\0').value(0) == QFile::encodeName(program))
            found.push_back(pid.toLongLong());
    }
    return found;
}

// Follows what the device writes: the file grows by whole buffers, and a
// player opening its device starts it anew.
class DeviceOutput {
public:
    explicit DeviceOutput(QString path) : path_(std::move(path)) {}

    // Reads what was written since the last call. `seen` is set once
    // `level` has come, and `stale` when `old` comes after it.
    void poll(float level, float old, bool& seen, bool& stale) {
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly)) return;
        if (file.size() < offset_) offset_ = 0;
        file.seek(offset_);
        const QByteArray bytes = file.read(file.size() - offset_);
        const qsizetype whole = bytes.size() / qsizetype(sizeof(float));
        offset_ += whole * qsizetype(sizeof(float));
        for (qsizetype i = 0; i < whole; ++i) {
            float sample = 0;
            std::memcpy(&sample, bytes.constData() + i * qsizetype(sizeof(float)), sizeof sample);
            seen |= sample == level;
            stale |= seen && sample == old;
        }
    }

private:
    QString path_;
    qint64 offset_ = 0;
};

struct Timing {
    std::vector<double> ms;
    int clean = 0;
};

// Presses `key` on the list and waits until the device plays `level`.
bool timeKey(QWidget* list, Qt::Key key, float level, float old, DeviceOutput& output,
             Timing& timing) {
    bool seen = false;
    bool stale = false;
    bool before = false;
    output.poll(level, old, before, stale);  // what came before the key
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(list, key);
    while (output.poll(level, old, seen, stale), !seen) {
        if (clock.elapsed() > 10000) return false;
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    timing.ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    // The old sound must not come back once the new one has begun: a few
    // more buffers are read to be sure.
    QTest::qWait(60);
    output.poll(level, old, seen, stale);
    if (!stale) ++timing.clean;
    return true;
}

void report(const char* what, Timing timing) {
    std::sort(timing.ms.begin(), timing.ms.end());
    if (timing.ms.empty()) return;
    std::printf("  %-32s median %7.1f ms, worst %7.1f ms over %zu keys", what,
                timing.ms[timing.ms.size() / 2], timing.ms.back(), timing.ms.size());
    std::printf("; old sound gone at the switch in %d of %zu\n", timing.clean, timing.ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir work;
    // The players inherit all of this: their own socket, options and device.
    const QString output = QDir(work.path()).filePath(QStringLiteral("played.raw"));
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(output));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QStringLiteral("config"))));
    const QString runtime = work.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("KZW4_AUTOCLOSE", "1");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString player = QDir(args.value(1)).filePath(QStringLiteral("KZW4"));
    const int handOvers = std::max(1, args.value(2, QStringLiteral("30")).toInt());
    const int starts = std::max(1, args.value(3, QStringLiteral("5")).toInt());
    if (!QFile::exists(player)) {
        std::fprintf(stderr, "usage: bench_audition <folder holding KZW4> [hand-overs] [starts]\n");
        return 2;
    }

    const QString folder = work.filePath(QStringLiteral("program"));
    QDir().mkpath(folder);
    const QString program = QDir(folder).filePath(QStringLiteral("KZW4"));
    QFile::link(QFileInfo(player).absoluteFilePath(), program);
    {
        store::Catalogue catalogue(folder);
        catalogue.begin();
        for (int s = 0; s < kSounds; ++s) {
            const QString sound = work.filePath(QStringLiteral("sound %1.wav").arg(s + 1));
            if (!writeLevel(sound, levelOf(s), 20)) return 1;
            catalogue.run(store::buildInsert(QStringLiteral("Sound %1").arg(s + 1), sound,
                                             QStringLiteral("Bench"), QString()));
        }
        catalogue.end();
    }
    prefs::OptionStore options;
    options.write(prefs::kPlayOnSelection, true);
    options.write(prefs::kPlayClick, false);

    window::Form1 form(folder);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) std::fprintf(stderr, "window not exposed\n");
    window::ListView1* list = form.list();
    list->setFocus();
    list->selectItem(1);
    DeviceOutput device(output);

    // Down to the last row and Up to the first, again and again: every key
    // moves the selection, so every key plays another sound.
    int position = 0;
    bool down = true;
    auto nextKey = [&](Qt::Key& key, float& level, float& old) {
        if (position == kSounds - 1) down = false;
        if (position == 0) down = true;
        old = levelOf(position);
        position += down ? 1 : -1;
        key = down ? Qt::Key_Down : Qt::Key_Up;
        level = levelOf(position);
    };

    Timing started;
    Timing handedOver;
    bool complete = true;
    for (int s = 0; s < starts && complete; ++s) {
        for (qint64 pid : runningPlayers(program)) ::kill(pid_t(pid), SIGTERM);
        QElapsedTimer waited;
        waited.start();
        while (!runningPlayers(program).empty() && waited.elapsed() < 10000) QTest::qWait(20);
        QTest::qWait(100);
        Qt::Key key;
        float level, old;
        nextKey(key, level, old);
        complete = timeKey(list, key, level, old, device, started);
    }
    // The player started last stays, and takes every sound from here on.
    QTest::qWait(500);
    for (int k = 0; k < handOvers && complete; ++k) {
        Qt::Key key;
        float level, old;
        nextKey(key, level, old);
        complete = timeKey(list, key, level, old, device, handedOver);
        QTest::qWait(150);
    }
    const size_t players = runningPlayers(program).size();
    for (qint64 pid : runningPlayers(program)) ::kill(pid_t(pid), SIGTERM);

    std::printf(
        "audition: key to the new sound's first samples at the device "
        "(SDL disk driver, %d Hz stereo)\n",
        kRate);
    report("sound handed to the player:", handedOver);
    report("player process started:", started);
    if (!complete) std::printf("  a sound never reached the device\n");
    std::sort(handedOver.ms.begin(), handedOver.ms.end());
    const double median = handedOver.ms.empty() ? 1e9 : handedOver.ms[handedOver.ms.size() / 2];
    std::printf("  target %.0f ms median: %s; %zu player(s) ran at the end\n", kTargetMs,
                median <= kTargetMs ? "met" : "NOT met", players);
    return complete && players == 1 ? 0 : 1;
}
