// The list load and the operations that reload it, on catalogues of 10,000,
// 100,000 and 1,000,000 entries, each figure the median of several runs and
// set against the floors of the operation's own statements, run by the engine
// alone with its built-in case folding (a) and with ours (b), and against one
// pass of a plain byte search over all the texts the list holds in memory
// (c), the least any answer from memory must do; and the longest time the
// window went without answering during the operation.
//
//   bench_catalogue [--sizes 10000,100000] [--reps N] [--cache DIR]

#include "benchdata.h"
#include "store/catalogue.h"
#include "store/statements.h"
#include "window/form1.h"
#include "window/listsnapshot.h"
#include "window/listview1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace kalvero;

namespace {

class YesDialogs : public window::UserDialogs {
public:
    QMessageBox::StandardButton message(QWidget*, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons,
                                        QMessageBox::StandardButton defaultButton,
                                        QMessageBox::Icon) override {
        if (defaultButton == QMessageBox::NoButton) {
            std::fprintf(stderr, "message: %s: %s\n", qPrintable(title), qPrintable(text));
            ++failures;
        }
        return QMessageBox::Yes;
    }
    int failures = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double timeMs(const std::function<void()>& f) {
    QElapsedTimer t;
    t.start();
    f();
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void paint(window::Form1& form) {
    form.list()->viewport()->repaint();
    QCoreApplication::processEvents();
}

// One operation of the window, measured over the repetitions with the
// statements it ran, and the floors of those statements.
struct Measured {
    QString what;
    std::vector<double> ms, gap, floorA, floorB, floorC;
    QStringList statements;
};

volatile size_t searchSink = 0;

// Floor (c): memmem of `needle` over every row's texts, as they lie in memory.
double byteSearchMs(const store::EntryTable& table, const QByteArray& needle) {
    QElapsedTimer t;
    t.start();
    size_t hits = 0;
    for (size_t r = 0; r < table.size(); ++r) {
        const std::string_view row = table.rowBytes(r);
        if (memmem(row.data(), row.size(), needle.constData(), static_cast<size_t>(needle.size())))
            ++hits;
    }
    searchSink = searchSink + hits;
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    QList<int> sizes = {10000, 100000, 1000000};
    int reps = 5;
    QString cache = QStringLiteral("bench-cache");
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--sizes")) {
            sizes.clear();
            for (const QString& s : args[i + 1].split(QLatin1Char(','))) sizes << s.toInt();
        } else if (args[i] == QLatin1String("--reps")) {
            reps = args[i + 1].toInt();
        } else if (args[i] == QLatin1String("--cache")) {
            cache = args[i + 1];
        }
    }
    const QString scratchRoot = cache + QStringLiteral("/scratch");
    QTextStream out(stdout);
    int failures = 0;

    for (const int size : sizes) {
        QElapsedTimer gen;
        gen.start();
        const QString cached = bench::cachedCatalogue(cache, size);
        const QString folder = bench::scratchCopy(cached, scratchRoot);
        out << "\n" << size << " entries (catalogue ready in " << gen.elapsed() << " ms)\n";
        out.flush();
        const int n = size >= 1000000 ? std::max(3, reps / 2) : reps;

        auto dialogs = std::make_shared<YesDialogs>();
        window::Form1Services services;
        services.dialogs = dialogs;
        {
            // A window on an empty catalogue first, so that what Qt sets up
            // once for any window is not counted against the entries.
            const QString empty = scratchRoot + QStringLiteral("/empty");
            QDir(empty).removeRecursively();
            QDir().mkpath(empty);
            window::Form1 warmUp(empty, services);
            warmUp.show();
            paint(warmUp);
        }
        const qint64 rssBefore = bench::residentBytes();
        window::Form1 form(folder, services);
        form.show();
        paint(form);
        const qint64 rssAfter = bench::residentBytes();
        size_t textBytes = 0;
        for (int r = 0; r < form.list()->rows()->rowCount(); ++r)
            for (int k = 0; k < 5; ++k) textBytes += form.list()->rows()->bytes(r, k).size();
        // Floor (c) over the whole table the start-up load read, as later loads find it in memory.
        double floorC = 0;
        {
            const std::shared_ptr<const store::EntryTable> held = form.list()->rows()->wholeTable();
            std::vector<double> passes;
            for (int i = 0; i < n && held; ++i)
                passes.push_back(byteSearchMs(*held, QByteArrayLiteral("a")));
            floorC = median(passes);
        }
        form.listSnapshot().waitForOrders();
        const qint64 rssOrders = bench::residentBytes();
        const size_t ordersBytes = form.listSnapshot().ordersBytes();

        // Fresh connections of their own, keyed once: the engine's built-ins (a), ours (b).
        store::Connection floorA = bench::openForFloor(folder, true);
        store::Connection floorB = bench::openForFloor(folder, false);
        QStringList issued;
        QObject::connect(&form, &window::Form1::statementIssued, &form,
                         [&issued](const QString& sql) { issued << sql; });
        bench::GapMeter gaps;
        std::vector<Measured> ops = {
            {QStringLiteral("start-up load"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("filter (one keystroke)"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("whole list again (Show All)"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("header sort Name ascending"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("header sort Name descending"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("Add with its reload"), {}, {}, {}, {}, {}, {}},
            {QStringLiteral("confirmed delete"), {}, {}, {}, {}, {}, {}}};
        std::vector<double> ordersReady;
        double lastSortingMs = 0;
        auto measure = [&](Measured& op, const std::function<void()>& action) {
            issued.clear();
            gaps.start();
            op.ms.push_back(timeMs([&] {
                action();
                paint(form);
            }));
            op.gap.push_back(gaps.stop());
            op.statements = issued;
            // The floors run alone: after a whole load the columns are being
            // sorted on a worker thread, which would slow them down.
            QElapsedTimer sorting;
            sorting.start();
            form.listSnapshot().waitForOrders();
            lastSortingMs = static_cast<double>(sorting.nsecsElapsed()) / 1e6;
            double a = 0, b = 0;
            for (const QString& sql : issued) {
                a += bench::floorMs(floorA, sql);
                b += bench::floorMs(floorB, sql);
            }
            op.floorA.push_back(a);
            op.floorB.push_back(b);
            op.floorC.push_back(floorC);
        };
        auto* nameBox = form.findChild<QLineEdit*>(QStringLiteral("Text5"));
        for (int i = 0; i < n; ++i) {
            // Another program's commit: the load must read the file again.
            floorB.exec("PRAGMA user_version = " + QByteArray::number(i + 1));
            measure(ops[0], [&] { form.SearchData1(1); });
            // The columns were sorted off the user-interface thread meanwhile;
            // a user takes a while to reach a header.
            ordersReady.push_back(lastSortingMs);
            nameBox->setText(QStringLiteral("a"));
            measure(ops[1], [&] { form.SearchData1(1); });
            nameBox->setText(QString());
            measure(ops[2], [&] { form.SearchData1(1); });
            measure(ops[3], [&] { form.ListView1_ColumnClick(2); });
            measure(ops[4], [&] { form.ListView1_ColumnClick(2); });
            form.findChild<QLineEdit*>(QStringLiteral("Text2"))
                ->setText(QStringLiteral("/bench/added %1.wav").arg(i));
            measure(ops[5], [&] { form.Command1_Click(); });
            // Delete the last row: the one just added.
            const int last = form.list()->count();
            form.list()->selectItem(last);
            form.ListView1_MouseDown(Qt::LeftButton);
            measure(ops[6], [&] { form.DeleteMenu_Click(); });
        }
        failures += dialogs->failures;

        const double entries = size;
        out << QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                   .arg(QStringLiteral("operation"), -28)
                   .arg(QStringLiteral("ms"), 9)
                   .arg(QStringLiteral("floor a"), 9)
                   .arg(QStringLiteral("floor b"), 9)
                   .arg(QStringLiteral("floor c"), 8)
                   .arg(QStringLiteral("x a"), 6)
                   .arg(QStringLiteral("x b"), 6)
                   .arg(QStringLiteral("x c"), 6)
                   .arg(QStringLiteral("b/a"), 6)
                   .arg(QStringLiteral("gap ms"), 8);
        for (const Measured& op : ops) {
            const double ms = median(op.ms), a = median(op.floorA), b = median(op.floorB),
                         c = median(op.floorC);
            out << QStringLiteral("  %1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                       .arg(op.what, -28)
                       .arg(ms, 9, 'f', 1)
                       .arg(a, 9, 'f', 1)
                       .arg(b, 9, 'f', 1)
                       .arg(c, 8, 'f', 1)
                       .arg(a > 0 ? ms / a : 0.0, 6, 'f', 2)
                       .arg(b > 0 ? ms / b : 0.0, 6, 'f', 2)
                       .arg(c > 0 ? ms / c : 0.0, 6, 'f', 2)
                       .arg(a > 0 ? b / a : 0.0, 6, 'f', 2)
                       .arg(*std::max_element(op.gap.begin(), op.gap.end()), 8, 'f', 1);
        }
        out << "  floors: the operation's own statements on a fresh keyed connection, every row "
               "stepped and all columns read; a: engine's built-in like and NOCASE, b: ours; "
               "c: one memmem pass over every held row's texts. Before each start-up load "
               "another connection commits, so that it reads the file; the filter, the whole "
               "list and the sorts are answered from memory. gap: longest time without an "
               "event-loop turn (5 ms timer), worst repetition\n";
        out << QStringLiteral(
                   "  sort orders built off the user-interface thread %1 ms after "
                   "the start-up load\n")
                   .arg(median(ordersReady), 0, 'f', 0);
        const double perEntry = static_cast<double>(rssAfter - rssBefore) / entries;
        const double textPerEntry = static_cast<double>(textBytes) / entries;
        out << QStringLiteral(
                   "  resident memory after load: %1 bytes/entry (text %2, overhead %3)\n")
                   .arg(perEntry, 0, 'f', 0)
                   .arg(textPerEntry, 0, 'f', 0)
                   .arg(perEntry - textPerEntry, 0, 'f', 0);
        out << QStringLiteral(
                   "  resident memory with the sort orders: %1 bytes/entry (orders %2)\n")
                   .arg(static_cast<double>(rssOrders - rssBefore) / entries, 0, 'f', 0)
                   .arg(static_cast<double>(ordersBytes) / entries, 0, 'f', 0);
        out << QStringLiteral("  model overhead: %1 bytes/entry\n")
                   .arg(static_cast<double>(form.list()->rows()->overheadBytes()) / entries, 0, 'f',
                        0);
        out.flush();
    }
    if (failures) {
        out << "\n" << failures << " operation(s) failed\n";
        return 1;
    }
    return 0;
}
