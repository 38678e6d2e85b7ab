#include "benchdata.h"

#include "store/catalogue.h"

#include <sys/resource.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <random>

namespace kalvero::bench {

namespace {

const char* const kWords[] = {
    "dog",   "Bark",    "door",   "Slam",   "rain",  "Thunder", "glass", "Break",  "wind",
    "Howl",  "engine",  "Start",  "bell",   "Ring",  "crowd",   "Cheer", "water",  "Drip",
    "fire",  "Crackle", "bird",   "Chirp",  "metal", "Clang",   "step",  "Gravel", "car",
    "Horn",  "äpfel",   "Straße", "Öffnen", "café",  "Été",     "niño",  "собака", "Дождь",
    "ветер", "Колокол", "whoosh", "Impact", "laser", "Zap",     "click", "Pop",    "swoosh"};
const char* const kCategories[] = {"Animals", "Foley",  "Weather", "Vehicles", "Ambience",
                                   "Impacts", "Sci-Fi", "Природа", "Musique",  "UI"};

QString words(std::mt19937& rng, int targetLength) {
    std::uniform_int_distribution<size_t> pick(0, std::size(kWords) - 1);
    QString out;
    while (out.size() < targetLength) {
        if (!out.isEmpty()) out += QLatin1Char(' ');
        out += QString::fromUtf8(kWords[pick(rng)]);
    }
    return out;
}

void generate(const QString& path, int entries) {
    std::mt19937 rng(20261207u + static_cast<unsigned>(entries));
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<size_t> category(0, std::size(kCategories) - 1);
    store::Catalogue catalogue(QFileInfo(path).path());
    catalogue.begin();  // creates the file with its table
    catalogue.end();
    store::Connection c = store::openCatalogueFile(path, SQLITE_OPEN_READWRITE);
    c.exec("BEGIN");
    sqlite3_stmt* st = nullptr;
    const char* sql =
        "INSERT INTO SoundData (NameData, FilePath, Category, DescriptionData) VALUES (?,?,?,?)";
    sqlite3_prepare_v2(c.handle(), sql, -1, &st, nullptr);
    for (int i = 0; i < entries; ++i) {
        const QByteArray name = words(rng, 20).toUtf8();
        const QByteArray file = (QStringLiteral("/home/user/Sound Library/") +
                                 QString::fromUtf8(kCategories[category(rng)]) + QLatin1Char('/') +
                                 words(rng, 20).replace(QLatin1Char(' '), QLatin1Char('_')) +
                                 QStringLiteral("_%1.wav").arg(i))
                                    .toUtf8();
        const QByteArray cat = QString::fromUtf8(kCategories[category(rng)]).toUtf8();
        const QByteArray desc = words(rng, 40).toUtf8();
        auto bind = [st](int column, const QByteArray& text, bool null) {
            if (null)
                sqlite3_bind_null(st, column);
            else
                sqlite3_bind_text(st, column, text.constData(), static_cast<int>(text.size()),
                                  SQLITE_TRANSIENT);
        };
        // A few entries have gaps, as imported catalogues do.
        bind(1, name, percent(rng) == 0);
        bind(2, file, false);
        bind(3, cat, percent(rng) < 2);
        bind(4, desc, percent(rng) < 3);
        if (sqlite3_step(st) != SQLITE_DONE) c.fail(sqlite3_errcode(c.handle()), sql);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    c.exec("COMMIT");
}

bool copyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QFileInfo& f : QDir(from).entryInfoList(QDir::Files)) {
        QFile::remove(to + QLatin1Char('/') + f.fileName());
        if (!QFile::copy(f.filePath(), to + QLatin1Char('/') + f.fileName())) return false;
    }
    return true;
}

// A 16-bit mono WAV of `samples` samples: a few hundred bytes.
QByteArray tinyWav(int samples, int seed) {
    const quint32 dataBytes = quint32(samples * 2);
    QByteArray wav;
    auto u32 = [&wav](quint32 v) {
        for (int i = 0; i < 4; ++i) wav += char((v >> (8 * i)) & 0xff);
    };
    auto u16 = [&wav](quint16 v) {
        wav += char(v & 0xff);
        wav += char(v >> 8);
    };
    wav += "RIFF";
    u32(36 + dataBytes);
    wav += "WAVEfmt ";
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(44100);
    u32(88200);
    u16(2);
    u16(16);
    wav += "data";
    u32(dataBytes);
    for (int i = 0; i < samples; ++i) u16(quint16((i * 37 + seed) & 0x7fff));
    return wav;
}

}  // namespace

QString cachedCatalogue(const QString& cacheRoot, int entries) {
    const QString folder = QDir(cacheRoot).filePath(QStringLiteral("catalogue-%1").arg(entries));
    const QString file = QDir(folder).filePath(QString::fromLatin1(store::Catalogue::kFileName));
    const QString done = file + QStringLiteral(".complete");
    if (QFile::exists(done)) return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    generate(file, entries);
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
    return folder;
}

QString scratchCopy(const QString& programFolder, const QString& scratchRoot) {
    const QString to = QDir(scratchRoot).filePath(QFileInfo(programFolder).fileName());
    QDir(to).removeRecursively();
    copyFolder(programFolder, to);
    QFile::remove(QDir(to).filePath(QString::fromLatin1(store::Catalogue::kFileName) +
                                    QStringLiteral(".complete")));
    return to;
}

store::Connection openForFloor(const QString& programFolder, bool builtIns) {
    const QString path =
        QDir(programFolder).filePath(QString::fromLatin1(store::Catalogue::kFileName));
    constexpr int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    store::Connection c;
    if (builtIns) {
        c = store::Connection(path, flags);
        if (sqlite3_key(c.handle(), store::Catalogue::kPassword,
                        static_cast<int>(qstrlen(store::Catalogue::kPassword))) != SQLITE_OK)
            c.fail(SQLITE_ERROR, "PRAGMA key");
        store::Statement version(c, "PRAGMA cipher_version");
        if (version.step() && version.textBytes(0).toInt() >= 4)
            c.exec("PRAGMA cipher_compatibility = 3");
        c.exec(QByteArrayLiteral("PRAGMA cipher_page_size = ") +
               QByteArray::number(store::Catalogue::kCipherPageSize));
        c.exec("PRAGMA temp_store = MEMORY");
    } else {
        c = store::openCatalogueFile(path, flags);
    }
    // The key is derived at the first read: not part of any floor.
    store::Statement warm(c, "select count(*) from SoundData");
    warm.step();
    return c;
}

volatile size_t floorSink = 0;

double floorMs(store::Connection& c, const QString& sql, qint64* rows) {
    const QByteArray text = sql.toUtf8();
    const bool isDelete = sql.startsWith(QLatin1String("delete"), Qt::CaseInsensitive);
    QByteArray statement = text;
    if (isDelete) {
        // A row of its own to delete, with the same statement shape.
        c.exec("insert into SoundData (FilePath) values ('/bench/floor.wav')");
        statement = text.left(text.lastIndexOf('=') + 1) + ' ' +
                    QByteArray::number(sqlite3_last_insert_rowid(c.handle()));
    }
    QElapsedTimer timer;
    timer.start();
    qint64 count = 0;
    {
        store::Statement st(c, statement);
        size_t bytes = 0;
        while (st.step()) {
            for (int k = 0; k < st.columnCount(); ++k) {
                int n = 0;
                st.text(k, n);
                bytes += static_cast<size_t>(n);
            }
            ++count;
        }
        floorSink = floorSink + bytes;
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    if (sql.startsWith(QLatin1String("insert"), Qt::CaseInsensitive))
        c.exec("delete from SoundData where ID = " +
               QByteArray::number(sqlite3_last_insert_rowid(c.handle())));
    if (rows) *rows = count;
    return ms;
}

GapMeter::GapMeter() {
    timer_.setInterval(5);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        const qint64 now = clock_.nsecsElapsed();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    });
}

void GapMeter::start() {
    longest_ = 0;
    clock_.start();
    last_ = 0;
    timer_.start();
}

double GapMeter::stop() {
    timer_.stop();
    const qint64 now = clock_.nsecsElapsed();
    longest_ = std::max(longest_, now - last_);
    return static_cast<double>(longest_) / 1e6;
}

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

QString cachedSoundTree(const QString& cacheRoot, int files) {
    const QString root = QDir(cacheRoot).filePath(QStringLiteral("import-tree-%1").arg(files));
    const QString done = root + QStringLiteral("/.complete");
    if (QFile::exists(done)) return root;
    QDir(root).removeRecursively();
    std::fprintf(stderr, "generating %d WAV files under %s...\n", files, qPrintable(root));
    constexpr int kFolders = 1000;
    for (int i = 0; i < files; ++i) {
        const int folder = i % kFolders;
        const QString dir = QStringLiteral("%1/Library %2/Take %3")
                                .arg(root)
                                .arg(folder / 10, 2, 10, QLatin1Char('0'))
                                .arg(folder % 10);
        if (i < kFolders) {
            QDir().mkpath(dir);
            QFile notes(dir + QStringLiteral("/notes.txt"));
            if (notes.open(QIODevice::WriteOnly)) notes.write("session notes\n");
            QFile hidden(dir + QStringLiteral("/.hidden.wav"));
            if (hidden.open(QIODevice::WriteOnly)) hidden.write(tinyWav(8, i));
        }
        QFile f(dir + QStringLiteral("/sound %1.wav").arg(i, 6, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot write %s", qPrintable(f.fileName()));
        f.write(tinyWav(100 + i % 100, i));
    }
    QFile mark(done);
    mark.open(QIODevice::WriteOnly);
    return root;
}

}  // namespace kalvero::bench
