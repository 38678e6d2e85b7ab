// Filter-as-you-type on a large catalogue: the real window, "Auto Filter on
// Typing" ticked, a word typed letter by letter into the name box. Each
// keystroke's reload is timed and set against the floor, the same select
// stepped through on a connection of its own with nothing shown.
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

// Types `word` into `box` with one key every `paceMs` while the event loop
// runs as it does for a user, and reports how long after the last key the
// list of the whole word was shown, set against that filter's floors.
bool typePaced(window::Form1& form, QLineEdit* box, const QString& word, int paceMs,
               int repetitions, const QString& folder) {
    store::Connection floorA = bench::openForFloor(folder, true);
    store::Connection floorB = bench::openForFloor(folder, false);
    QString lastSql;
    int started = 0, finished = 0;
    QObject::connect(&form, &window::Form1::statementIssued, &form, [&](const QString& sql) {
        lastSql = sql;
        ++started;
    });
    std::vector<double> after, gaps, floorsA, floorsB;
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
        std::printf("  round %d: %d loads started, %d finished\n", rep, started, finished);
    }
    const double shown = median(after), a = median(floorsA), b = median(floorsB);
    std::printf("\"%s\" typed, one key every %d ms, Auto Filter on Typing, median of %d rounds\n",
                qPrintable(word), paceMs, repetitions);
    std::printf("  %-34s %9s %9s %9s %6s %8s\n", "", "ms", "floor a", "floor b", "x b", "gap ms");
    std::printf("  %-34s %9.1f %9.1f %9.1f %6.2f %8.1f\n", "final list shown after last key", shown,
                a, b, b > 0 ? shown / b : 0.0,
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
    const int paceMs = args.value(5, QStringLiteral("0")).toInt();
    if (paceMs > 0) {
        std::printf("%d entries\n", entries);
        const bool ok = typePaced(form, box, word, paceMs, repetitions, folder);
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
        std::vector<double> load, shown, floor;
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
        }
        box->clear();  // one more reload, not measured
    }

    std::printf("%d entries, \"%s\" typed into the name box, median of %d rounds\n", entries,
                qPrintable(word), repetitions);
    std::printf("%-10s %8s %10s %10s %10s %7s\n", "typed", "rows", "reload ms", "shown ms",
                "floor ms", "ratio");
    for (const Step& step : steps) {
        const double load = median(step.load);
        const double floor = median(step.floor);
        std::printf("%-10s %8lld %10.1f %10.1f %10.1f %7.2f\n", qPrintable(step.typed),
                    static_cast<long long>(step.rows), load, median(step.shown), floor,
                    floor > 0 ? load / floor : 0.0);
    }
    return dialogs->messages == 0 ? 0 : 1;
}
