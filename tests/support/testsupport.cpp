#include "testsupport.h"

#include "cli/cli.h"
#include "window/listview1.h"

#include <QtTest>

namespace kalvero::test {

TempProgramFolder::TempProgramFolder() { QVERIFY(dir_.isValid()); }

QString TempProgramFolder::cataloguePath() const {
    return dir_.filePath(QString::fromLatin1(store::Catalogue::kFileName));
}

void TempProgramFolder::createCatalogue(const QList<Entry>& rows) const {
    store::Catalogue catalogue(path());
    catalogue.begin();  // creates the file and its table
    catalogue.end();
    insertRows(rows);
}

namespace {
void bindText(sqlite3_stmt* st, int i, const QString& text) {
    if (text.isNull()) {
        sqlite3_bind_null(st, i);
    } else {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(st, i, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    }
}

}  // namespace

void TempProgramFolder::insertRows(const QList<Entry>& rows) const {
    store::Connection c = store::openCatalogueFile(cataloguePath(), SQLITE_OPEN_READWRITE);
    c.exec("BEGIN");
    sqlite3_stmt* st = nullptr;
    const char* sql =
        "INSERT INTO SoundData (ID, NameData, FilePath, Category, DescriptionData) "
        "VALUES (?, ?, ?, ?, ?)";
    if (sqlite3_prepare_v2(c.handle(), sql, -1, &st, nullptr) != SQLITE_OK) c.fail(1, sql);
    for (const Entry& e : rows) {
        if (e.id > 0)
            sqlite3_bind_int64(st, 1, e.id);
        else
            sqlite3_bind_null(st, 1);
        bindText(st, 2, e.name);
        bindText(st, 3, e.file);
        bindText(st, 4, e.category);
        bindText(st, 5, e.description);
        if (sqlite3_step(st) != SQLITE_DONE) {
            sqlite3_finalize(st);
            c.fail(sqlite3_errcode(c.handle()), sql);
        }
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    c.exec("COMMIT");
}

QList<Entry> TempProgramFolder::readEntries() const {
    store::Connection c = store::openCatalogueFile(cataloguePath(), SQLITE_OPEN_READONLY);
    store::Statement st(c,
                        "SELECT ID, NameData, FilePath, Category, DescriptionData "
                        "FROM SoundData ORDER BY ID");
    QList<Entry> out;
    while (st.step()) {
        // Statement gives no access to the raw handle; read through the texts.
        Entry e;
        e.id = st.textBytes(0).toLongLong();
        auto read = [&st](int i) {
            return st.isNull(i) ? QString() : QString::fromUtf8(st.textBytes(i));
        };
        e.name = read(1);
        e.file = read(2);
        e.category = read(3);
        e.description = read(4);
        out.append(e);
    }
    return out;
}

qint64 TempProgramFolder::countRows() const {
    store::Connection c = store::openCatalogueFile(cataloguePath(), SQLITE_OPEN_READONLY);
    store::Statement st(c, "SELECT count(*) FROM SoundData");
    st.step();
    return st.textBytes(0).toLongLong();
}

QMessageBox::StandardButton ScriptedDialogs::message(QWidget*, const QString& title,
                                                     const QString& text,
                                                     QMessageBox::StandardButtons buttons,
                                                     QMessageBox::StandardButton defaultButton,
                                                     QMessageBox::Icon icon) {
    messages.append({title, text, buttons, defaultButton, icon});
    if (!answers.empty()) {
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return defaultButton != QMessageBox::NoButton ? defaultButton : QMessageBox::Ok;
}

std::optional<QString> ScriptedDialogs::openFileName(QWidget*) {
    ++fileDialogs;
    if (files.empty()) return std::nullopt;
    const QString next = files.front();
    files.pop_front();
    if (next.isNull()) return std::nullopt;
    return std::optional<QString>(next);
}

std::optional<QString> ScriptedDialogs::existingFolder(QWidget*) {
    if (folders.empty()) return std::nullopt;
    const QString next = folders.front();
    folders.pop_front();
    if (next.isNull()) return std::nullopt;
    return std::optional<QString>(next);
}

bool ScriptedDialogs::openUrl(const QUrl& url) {
    openedUrls.append(url);
    return openUrlSucceeds;
}

bool isSelected(const window::ListView1* list, int position) {
    if (position < 1 || position > list->count()) return false;
    return list->selectionModel()->isRowSelected(position - 1, {});
}

void deselect(window::ListView1* list, int position) {
    if (position < 1 || position > list->count()) return;
    list->selectionModel()->select(list->rows()->index(position - 1, 0),
                                   QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

IsolatedSettings::IsolatedSettings() : previous_(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
}

IsolatedSettings::~IsolatedSettings() {
    if (previous_.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    } else {
        qputenv("XDG_CONFIG_HOME", previous_);
    }
}

QString IsolatedSettings::configFile() const {
    return dir_.filePath(QStringLiteral("Kalvero/Kalvero.conf"));
}

std::unique_ptr<window::Form1> makeForm(const TempProgramFolder& folder,
                                        std::shared_ptr<ScriptedDialogs> dialogs,
                                        window::Form1Services services) {
    services.dialogs = std::move(dialogs);
    return std::make_unique<window::Form1>(folder.path(), std::move(services));
}

QStringList rowTexts(const window::Form1& form, int position) {
    QStringList out;
    out << form.list()->itemText(position);
    for (int k = 1; k <= 4; ++k) out << form.list()->subItemText(position, k);
    return out;
}

QList<qint64> listedIds(const window::Form1& form) {
    QList<qint64> ids;
    for (int i = 1; i <= form.list()->count(); ++i)
        ids.append(form.list()->itemText(i).toLongLong());
    return ids;
}

namespace {

QString readBack(FILE* file) {
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char buffer[4096];
    while (const size_t n = std::fread(buffer, 1, sizeof buffer, file))
        bytes.append(buffer, qsizetype(n));
    std::fclose(file);
    return QString::fromUtf8(bytes);
}

}  // namespace

CliRun runCli(const TempProgramFolder& folder, const QStringList& arguments, FILE* out) {
    FILE* results = out ? out : std::tmpfile();
    FILE* err = std::tmpfile();
    CliRun run;
    {
        cli::Console console(results, err);
        run.code = cli::run(QStringList{QStringLiteral("kalvero-cli")} + arguments, folder.path(),
                            console);
    }
    if (!out) run.out = readBack(results);
    run.err = readBack(err);
    return run;
}

}  // namespace kalvero::test
