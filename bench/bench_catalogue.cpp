// The list load and the operations that reload it, on catalogues of 10,000,
// 100,000 and 1,000,000 entries, each figure the median of several runs and
// set against the floor: the same select stepped through the engine alone.
//
//   bench_catalogue [--sizes 10000,100000] [--reps N] [--cache DIR]

#include "benchdata.h"
#include "store/catalogue.h"
#include "store/statements.h"
#include "window/form1.h"
#include "window/listview1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTextStream>
#include <algorithm>
#include <cstdio>
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

// The floor: the start-up select on a freshly opened, keyed connection, every
// row stepped and all five columns read, nothing else. The catalogue object
// has derived the key once before, as the window's has.
double floorOnce(store::Catalogue& catalogue) {
    return timeMs([&] {
        catalogue.begin();
        qint16 remembered = 0;
        store::Statement st = catalogue.query(store::buildSelect({}, 1, remembered));
        size_t bytes = 0;
        while (st.step()) {
            for (int k = 0; k < 5; ++k) {
                int n = 0;
                st.text(k, n);
                bytes += static_cast<size_t>(n);
            }
        }
        if (bytes == 0) std::fprintf(stderr, "empty catalogue?\n");
        catalogue.end();
    });
}

void paint(window::Form1& form) {
    form.list()->viewport()->repaint();
    QCoreApplication::processEvents();
}

struct Row {
    QString what;
    double ms;
    double ratio;
};

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

        store::Catalogue floorCatalogue(folder);
        floorOnce(floorCatalogue);  // derives the key
        std::vector<double> floors;
        for (int i = 0; i < n; ++i) floors.push_back(floorOnce(floorCatalogue));
        const double floorMs = median(floors);

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
        for (int r = 0; r < form.list()->rows()->stagedRowCount(); ++r)
            for (int k = 0; k < 5; ++k) textBytes += form.list()->rows()->bytes(r, k).size();

        std::vector<double> load, filter, sortAsc, sortDesc, add, del;
        auto* nameBox = form.findChild<QLineEdit*>(QStringLiteral("Text5"));
        for (int i = 0; i < n; ++i) {
            load.push_back(timeMs([&] {
                form.SearchData1(1);
                paint(form);
            }));
            nameBox->setText(QStringLiteral("a"));
            filter.push_back(timeMs([&] {
                form.SearchData1(1);
                paint(form);
            }));
            nameBox->setText(QString());
            form.SearchData1(1);
            sortAsc.push_back(timeMs([&] {
                form.ListView1_ColumnClick(2);
                paint(form);
            }));
            sortDesc.push_back(timeMs([&] {
                form.ListView1_ColumnClick(2);
                paint(form);
            }));
            form.findChild<QLineEdit*>(QStringLiteral("Text2"))
                ->setText(QStringLiteral("/bench/added %1.wav").arg(i));
            add.push_back(timeMs([&] {
                form.Command1_Click();
                paint(form);
            }));
            // Delete the last row: the one just added.
            const int last = form.list()->count();
            form.list()->selectItem(last);
            form.ListView1_MouseDown(Qt::LeftButton);
            del.push_back(timeMs([&] {
                form.DeleteMenu_Click();
                paint(form);
            }));
        }
        failures += dialogs->failures;

        const double entries = size;
        const std::vector<Row> rows = {
            {QStringLiteral("floor: select stepped alone"), floorMs, 1.0},
            {QStringLiteral("start-up load into the list"), median(load), median(load) / floorMs},
            {QStringLiteral("filter (one keystroke)"), median(filter), median(filter) / floorMs},
            {QStringLiteral("header sort Name ascending"), median(sortAsc),
             median(sortAsc) / floorMs},
            {QStringLiteral("header sort Name descending"), median(sortDesc),
             median(sortDesc) / floorMs},
            {QStringLiteral("Add with its reload"), median(add), median(add) / floorMs},
            {QStringLiteral("confirmed delete"), median(del), median(del) / floorMs},
        };
        out << QStringLiteral("  %1 %2 %3\n")
                   .arg(QStringLiteral("operation"), -32)
                   .arg(QStringLiteral("ms"), 10)
                   .arg(QStringLiteral("x floor"), 8);
        for (const Row& r : rows)
            out << QStringLiteral("  %1 %2 %3\n")
                       .arg(r.what, -32)
                       .arg(r.ms, 10, 'f', 1)
                       .arg(r.ratio, 8, 'f', 2);
        const double perEntry = static_cast<double>(rssAfter - rssBefore) / entries;
        const double textPerEntry = static_cast<double>(textBytes) / entries;
        out << QStringLiteral(
                   "  resident memory after load: %1 bytes/entry (text %2, overhead %3)\n")
                   .arg(perEntry, 0, 'f', 0)
                   .arg(textPerEntry, 0, 'f', 0)
                   .arg(perEntry - textPerEntry, 0, 'f', 0);
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
