// Filter-as-you-type on a large catalogue: the real window, "Auto Filter on
// Typing" ticked, a word typed letter by letter into the name box. Each
// keystroke's reload is timed and set against two floors: the same select
// stepped through on a connection of its own with nothing shown (b), and one
// memmem pass for the typed text over all the texts the list holds in
// memory (c).
//
//   bench_keystroke [cache folder] [entries] [word] [repetitions] [pace ms]
//
// With a pace, the word is typed one key every so many milliseconds while
// the event loop runs, and the time from the last key to the final list is
// measured instead.
//
// The catalogue is generated once into the cache folder (build/bench-cache
// by default) and reused by later runs.

#include "benchdata.h"
#include "store/catalogue.h"
#include "window/form1.h"
#include "window/listview1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kalvero;

namespace {

// Reports any message box instead of showing it: in a benchmark it is a fault.
class ReportingDialogs : public window::UserDialogs {
public:
    QMessageBox::StandardButton message(QWidget*, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton defaultButton,
                                        QMessageBox::Icon) override {
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
        ++messages;
        return defaultButton != QMessageBox::NoButton ? defaultButton : QMessageBox::Ok;
    }
    int messages = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

volatile size_t searchSink = 0;

// Floor (c): memmem of the typed text over every held row's texts.
double byteSearchMs(const store::EntryTable* table, const QString& typed) {
    if (!table) return 0;
    const QByteArray needle = typed.toUtf8();
    QElapsedTimer t;
    t.start();
    size_t hits = 0;
    for (size_t r = 0; r < table->size(); ++r) {
        const std::string_view row = table->rowBytes(r);
        if (memmem(row.data(), row.size(), needle.constData(), static_cast<size_t>(needle.size())))
            ++hits;
    }
    searchSink = searchSink + hits;
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// Types `word` into `box` with one key every `paceMs` while the event loop
// runs as it does for a user, and reports how long after the last key the
// list of the whole word was shown, set against that filter's floors.
bool typePaced(window::Form1& form, QLineEdit* box, const QString& word, int paceMs,
               int repetitions, const QString& folder, const store::EntryTable* held) {
    store::Connection floorA = bench::openForFloor(folder, true);
    store::Connection floorB = bench::openForFloor(folder, false);
    QString lastSql;
    int started = 0, finished = 0;
    QObject::connect(&form, &window::Form1::statementIssued, &form, [&](const QString& sql) {
        lastSql = sql;
        ++started;
    });
    std::vector<double> after, gaps, floorsA, floorsB, floorsC;
    bool complete = true;
    for (int rep = 0; rep <= repetitions; ++rep) {  // the first round warms the caches
        box->clear();
        while (form.isLoading()) QCoreApplication::processEvents();
        started = finished = 0;
        QElapsedTimer clock;
        qint64 lastKeyAt = -1, shownAt = -1;
        QEventLoop loop;
        bench::GapMeter meter;
        const auto onFinished = QObject::connect(&form, &window::Form1::loadFinished, &form, [&] {
            ++finished;
            if (lastKeyAt < 0 || box->text() != word) return;
            QTimer::singleShot(0, &form, [&] {
                form.list()->viewport()->repaint();
                shownAt = clock.nsecsElapsed();
                loop.quit();
            });
        });
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        for (qsizetype i = 0; i < word.size(); ++i) {
            QTimer::singleShot(static_cast<int>(i) * paceMs, Qt::PreciseTimer, &form, [&, i] {
                if (i == word.size() - 1) lastKeyAt = clock.nsecsElapsed();
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(word.at(i)),
                                    Qt::NoModifier);
            });
        }
        clock.start();
        meter.start();
        loop.exec();
        const double gap = meter.stop();
        QObject::disconnect(onFinished);
        if (shownAt < 0) {
            std::fprintf(stderr, "the list of \"%s\" was not shown\n", qPrintable(word));
            complete = false;
            continue;
        }
        if (rep == 0) continue;
        after.push_back(static_cast<double>(shownAt - lastKeyAt) / 1e6);
        gaps.push_back(gap);
        floorsA.push_back(bench::floorMs(floorA, lastSql));
        floorsB.push_back(bench::floorMs(floorB, lastSql));
        floorsC.push_back(byteSearchMs(held, word));
        std::printf("  round %d: %d loads started, %d finished\n", rep, started, finished);
    }
    const double shown = median(after), a = median(floorsA), b = median(floorsB),
                 c = median(floorsC);
    std::printf("\"%s\" typed, one key every %d ms, Auto Filter on Typing, median of %d rounds\n",
                qPrintable(word), paceMs, repetitions);
    std::printf("  %-34s %9s %9s %9s %8s %6s %6s %6s %8s\n", "", "ms", "floor a", "floor b",
                "floor c", "x a", "x b", "x c", "gap ms");
    std::printf("  %-34s %9.1f %9.1f %9.1f %8.2f %6.2f %6.2f %6.2f %8.1f\n",
                "final list shown after last key", shown, a, b, c, a > 0 ? shown / a : 0.0,
                b > 0 ? shown / b : 0.0, c > 0 ? shown / c : 0.0,
                gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()));
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString cacheRoot = args.value(1, QStringLiteral("build/bench-cache"));
    const int entries = args.value(2, QStringLiteral("100000")).toInt();
    const QString word = args.value(3, QStringLiteral("thunder"));
    const int repetitions = std::max(1, args.value(4, QStringLiteral("5")).toInt());
    if (entries <= 0 || word.isEmpty()) {
        std::fprintf(stderr,
                     "usage: bench_keystroke [cache folder] [entries] [word] [repetitions]\n");
        return 2;
    }

    // The user's own options stay untouched.
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));

    const QString folder = bench::cachedCatalogue(cacheRoot, entries);
    auto dialogs = std::make_shared<ReportingDialogs>();
    window::Form1::Services services;
    services.dialogs = dialogs;
    window::Form1 form(folder, std::move(services));
    auto* showBar = form.findChild<QAction*>(QStringLiteral("ShowSearchBar"));
    if (!showBar->isChecked()) form.ShowSearchBar_Click();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) std::fprintf(stderr, "window not exposed\n");
    form.findChild<QCheckBox*>(QStringLiteral("Check1"))->setChecked(true);
    auto* box = form.findChild<QLineEdit*>(QStringLiteral("Text5"));
    // The whole table as the start-up load read it, which the keystrokes are answered from.
    const std::shared_ptr<const store::EntryTable> held = form.list()->rows()->wholeTable();
    const int paceMs = args.value(5, QStringLiteral("0")).toInt();
    if (paceMs > 0) {
        std::printf("%d entries\n", entries);
        const bool ok = typePaced(form, box, word, paceMs, repetitions, folder, held.get());
        return ok && dialogs->messages == 0 ? 0 : 1;
    }

    QString lastSql;
    int loads = 0;
    QObject::connect(&form, &window::Form1::statementIssued, &form, [&](const QString& sql) {
        lastSql = sql;
        ++loads;
    });

    store::Connection floorConnection = store::openCatalogueFile(
        QDir(folder).filePath(QString::fromLatin1(store::Catalogue::kFileName)),
        SQLITE_OPEN_READONLY);

    struct Step {
        QString typed;
        qint64 rows = 0;
        std::vector<double> load, shown, floor, floorC;
    };
    std::vector<Step> steps(static_cast<size_t>(word.size()));
    for (int rep = 0; rep <= repetitions; ++rep) {  // the first round warms the caches
        for (qsizetype i = 0; i < word.size(); ++i) {
            Step& step = steps[static_cast<size_t>(i)];
            const int loadsBefore = loads;
            QElapsedTimer timer;
            timer.start();
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(word.at(i)),
                                Qt::NoModifier);
            const double loadMs = timer.nsecsElapsed() / 1e6;
            // Until the window has painted the new rows and has nothing left to do.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            const double shownMs = timer.nsecsElapsed() / 1e6;
            if (loads != loadsBefore + 1)
                std::fprintf(stderr, "keystroke %lld ran %d loads\n", static_cast<long long>(i),
                             loads - loadsBefore);
            qint64 rows = 0;
            const double floor = bench::floorMs(floorConnection, lastSql, &rows);
            if (rows != form.list()->count())
                std::fprintf(stderr, "the list shows %d rows, the select gives %lld\n",
                             form.list()->count(), static_cast<long long>(rows));
            if (rep == 0) continue;
            step.typed = box->text();
            step.rows = rows;
            step.load.push_back(loadMs);
            step.shown.push_back(shownMs);
            step.floor.push_back(floor);
            step.floorC.push_back(byteSearchMs(held.get(), step.typed));
        }
        box->clear();  // one more reload, not measured
    }

    std::printf("%d entries, \"%s\" typed into the name box, median of %d rounds\n", entries,
                qPrintable(word), repetitions);
    std::printf("%-10s %8s %10s %10s %10s %9s %7s %7s\n", "typed", "rows", "reload ms", "shown ms",
                "floor b", "floor c", "shown/b", "shown/c");
    for (const Step& step : steps) {
        const double shown = median(step.shown);
        const double floor = median(step.floor), floorC = median(step.floorC);
        std::printf("%-10s %8lld %10.1f %10.1f %10.1f %9.2f %7.2f %7.2f\n", qPrintable(step.typed),
                    static_cast<long long>(step.rows), median(step.load), shown, floor, floorC,
                    floor > 0 ? shown / floor : 0.0, floorC > 0 ? shown / floorC : 0.0);
    }
    std::printf(
        "floor b: the select on a connection of its own with our folding, every row "
        "stepped; floor c: one memmem pass for the typed text over every held row's "
        "texts\n");
    return dialogs->messages == 0 ? 0 : 1;
}
