// libFuzzer target over the statement builders and a real catalogue.
//
// Every input adds one entry through the insert the window builds and reads
// it back byte for byte, then runs the list's select with four search texts
// and checks that it returns exactly the rows our own matcher picks, in the
// asked order, and that it changed nothing in the table. The case folding
// under `like` and `NOCASE` gets checks of its own on the raw bytes.
//
// Input layout: one control byte, then up to eight texts split by the byte
// 0xFF (which no UTF-8 text holds): name, file, category, description, then
// the search texts for the same four columns. The eighth text takes the rest
// of the input, separators included. The texts are read as UTF-8, so
// malformed bytes become U+FFFD and no text holds a lone surrogate; a text
// with a NUL is one the window refuses to store or search for.
//
// The catalogue lives for the whole process, so each input meets the rows of
// the ones before it; it is emptied every kInputsPerCatalogue inputs.

#include "store/catalogue.h"
#include "store/statements.h"
#include "store/unicodefold.h"

#include <QByteArray>
#include <QChar>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

using namespace kalvero::store;

namespace {

constexpr int kTexts = 8;
constexpr unsigned char kSeparator = 0xFF;
constexpr int kInputsPerCatalogue = 1000;
constexpr int kInputsPerConnection = 16;
// The reference matcher is quadratic; larger pairs are only checked for
// agreement with compareNoCase and for crashes.
constexpr size_t kReferenceCells = 256 * 1024;

[[noreturn]] void fault(const char* what, const QByteArray& detail = {}) {
    std::fprintf(stderr, "\nfuzz_store: %s\n", what);
    if (!detail.isEmpty()) {
        const QByteArray shown = detail.left(600).toPercentEncoding(" '%_;-");
        std::fprintf(stderr, "  %s%s\n", shown.constData(), detail.size() > 600 ? "..." : "");
    }
    std::abort();
}

void expect(bool ok, const char* what, const QByteArray& detail = {}) {
    if (!ok) fault(what, detail);
}

int sign(int v) { return (v > 0) - (v < 0); }

std::string_view view(const QByteArray& b) {
    return std::string_view(b.constData(), static_cast<size_t>(b.size()));
}

qint64 number(std::string_view text) {
    qint64 value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    expect(error == std::errc() && end == text.data() + text.size(), "not a number",
           QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    return value;
}

// A field of the current row, without a copy.
std::string_view field(const Statement& st, int column) {
    int bytes = 0;
    const char* text = st.text(column, bytes);
    return std::string_view(text, static_cast<size_t>(bytes));
}

// --- The case folding on raw bytes ---------------------------------------

// Folded code points of a valid UTF-8 text, straight from Qt, one by one.
std::vector<char32_t> foldedByQt(const QString& text) {
    std::vector<char32_t> out;
    for (const char32_t c : text.toUcs4()) out.push_back(QChar::toCaseFolded(c));
    return out;
}

// LIKE without an escape character, by dynamic programming over the whole
// pattern: slow, plainly right.
bool likeReference(const std::vector<char32_t>& pattern, const std::vector<char32_t>& text) {
    std::vector<char> row(text.size() + 1, 0), next(text.size() + 1, 0);
    row[0] = 1;  // the empty pattern matches the empty text
    for (const char32_t p : pattern) {
        std::fill(next.begin(), next.end(), 0);
        if (p == U'%') {
            char any = 0;
            for (size_t j = 0; j <= text.size(); ++j) {
                any = static_cast<char>(any | row[j]);
                next[j] = any;
            }
        } else {
            for (size_t j = 0; j < text.size(); ++j) {
                if (row[j] && (p == U'_' || p == text[j])) next[j + 1] = 1;
            }
        }
        row.swap(next);
    }
    return row[text.size()] != 0;
}

std::optional<QString> validUtf8(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) return std::nullopt;
    return text;
}

void checkOrder(const QByteArray& a, const QByteArray& b) {
    const int ab = sign(compareNoCase(view(a), view(b)));
    const int ba = sign(compareNoCase(view(b), view(a)));
    expect(ab == -ba, "compareNoCase is not antisymmetric", a + "\n" + b);
    expect(compareNoCase(view(a), view(a)) == 0, "compareNoCase(a, a) is not 0", a);
}

void checkTransitive(const QByteArray& a, const QByteArray& b, const QByteArray& c) {
    const int ab = sign(compareNoCase(view(a), view(b)));
    const int bc = sign(compareNoCase(view(b), view(c)));
    const int ac = sign(compareNoCase(view(a), view(c)));
    if (ab <= 0 && bc <= 0)
        expect(ac <= 0, "compareNoCase is not transitive", a + "\n" + b + "\n" + c);
    if (ab >= 0 && bc >= 0)
        expect(ac >= 0, "compareNoCase is not transitive", a + "\n" + b + "\n" + c);
}

void checkLike(const QByteArray& pattern, const QByteArray& text) {
    const bool matched = LikePattern(view(pattern)).matches(view(text));
    const bool hasWildcard = pattern.contains('%') || pattern.contains('_');
    // Without wildcards a pattern matches exactly the texts that compare equal.
    if (!hasWildcard) {
        expect(matched == (compareNoCase(view(pattern), view(text)) == 0),
               "LikePattern without wildcards disagrees with compareNoCase", pattern + "\n" + text);
    }
    // An escape character that the pattern does not hold changes nothing.
    if (!pattern.contains('\\')) {
        expect(LikePattern(view(pattern), U'\\').matches(view(text)) == matched,
               "an unused escape character changed the match", pattern + "\n" + text);
    } else {
        (void)LikePattern(view(pattern), U'\\').matches(view(text));
    }
    const auto p = validUtf8(pattern);
    const auto t = validUtf8(text);
    if (!p || !t) return;
    // A text contains itself. (Only for whole characters: glued together,
    // stray bytes of malformed text could join into a different character.)
    if (!hasWildcard) {
        expect(LikePattern(view("%" + pattern + "%")).matches(view(text + pattern + text)),
               "a text does not contain itself", pattern + "\n" + text);
    }
    const auto fp = foldedByQt(*p);
    const auto ft = foldedByQt(*t);
    if ((fp.size() + 1) * (ft.size() + 1) > kReferenceCells) return;
    expect(matched == likeReference(fp, ft), "LikePattern disagrees with the reference matcher",
           pattern + "\n" + text);
}

// --- The catalogue -------------------------------------------------------

struct Row {
    qint64 id = 0;
    std::array<QByteArray, 4> texts;
};

QString tempRoot() {
    // run_fuzz.sh hands us a folder on a memory file system (adds without
    // real syncs to disk) that it removes afterwards, even after a crash.
    QString base = qEnvironmentVariable("KALVERO_FUZZ_TMP");
    if (base.isEmpty()) base = QDir::tempPath();
    return base + QStringLiteral("/kalvero-fuzz-XXXXXX");
}

class Harness {
public:
    Harness() : dir_(tempRoot()), catalogue_(dir_.path()) {
        expect(dir_.isValid(), "no temporary folder for the catalogue");
        catalogue_.begin();  // creates the file
        expect(count() == 0, "a new catalogue is not empty");
        catalogue_.end();
    }

    void run(unsigned char control, const std::array<QString, kTexts>& texts);

private:
    qint64 count();
    void checkTable(const char* when);
    void removeOne(size_t index);
    void add(const std::array<QString, kTexts>& texts);
    void select(unsigned char control, const std::array<QString, kTexts>& texts);

    QTemporaryDir dir_;
    Catalogue catalogue_;
    std::vector<Row> rows_;  // what the table must hold, in ID order
    int inputs_ = 0;
};

qint64 Harness::count() {
    Statement st = catalogue_.query(QStringLiteral("select count(*) from SoundData"));
    expect(st.step(), "counting the rows returned nothing");
    return number(field(st, 0));
}

// The table holds exactly the rows we put there.
void Harness::checkTable(const char* when) {
    Statement st = catalogue_.query(QStringLiteral(
        "select ID, NameData, FilePath, Category, DescriptionData from SoundData order by ID"));
    size_t i = 0;
    while (st.step()) {
        expect(i < rows_.size(), when, "a row more than was added");
        const Row& row = rows_[i++];
        expect(number(field(st, 0)) == row.id, when, "a row's ID changed");
        for (int c = 0; c < 4; ++c) {
            expect(!st.isNull(c + 1), when, "a stored text became NULL");
            const QByteArray& stored = row.texts[static_cast<size_t>(c)];
            if (field(st, c + 1) != view(stored)) fault(when, stored + "\n" + st.textBytes(c + 1));
        }
    }
    expect(i == rows_.size(), when, "a row is missing");
}

// The row must be gone and every other one untouched; checkTable sees to both.
void Harness::removeOne(size_t index) {
    catalogue_.run(buildDelete(QString::number(rows_[index].id)));
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
}

// checkTable after the previous input has shown that the table holds exactly
// rows_, so the count before the insert is known.
void Harness::add(const std::array<QString, kTexts>& texts) {
    const qint64 newestBefore = rows_.empty() ? 0 : rows_.back().id;
    const QString sql = buildInsert(texts[0], texts[1], texts[2], texts[3]);
    catalogue_.run(sql);

    Row row;
    for (size_t c = 0; c < 4; ++c) row.texts[c] = texts[c].toUtf8();
    Statement st =
        catalogue_.query(QStringLiteral("select ID, NameData, FilePath, Category, DescriptionData, "
                                        "(select count(*) from SoundData) from SoundData "
                                        "where ID = (select max(ID) from SoundData)"));
    expect(st.step(), "the newest row cannot be read", sql.toUtf8());
    expect(number(field(st, 5)) == static_cast<qint64>(rows_.size()) + 1,
           "the insert did not add exactly one row", sql.toUtf8());
    row.id = number(field(st, 0));
    expect(row.id > newestBefore, "the new row did not get a new ID", st.textBytes(0));
    for (int c = 0; c < 4; ++c) {
        if (st.isNull(c + 1)) fault("a stored text came back NULL", sql.toUtf8());
        const QByteArray& typed = row.texts[static_cast<size_t>(c)];
        if (field(st, c + 1) != view(typed))
            fault("a stored text did not come back byte for byte",
                  typed + "\n" + st.textBytes(c + 1));
    }
    expect(!st.step(), "two rows share the newest ID");
    rows_.push_back(std::move(row));
}

void Harness::select(unsigned char control, const std::array<QString, kTexts>& texts) {
    const SearchTexts search{texts[4], texts[5], texts[6], texts[7]};
    const auto sortInt = static_cast<qint16>((control & 7) % 5 + 1);
    const qint16 rememberedBefore = static_cast<qint16>((control >> 3 & 7) % 6);
    qint16 remembered = rememberedBefore;
    const QString sql = buildSelect(search, sortInt, remembered);
    const bool descending = sortInt == rememberedBefore && sortInt > 1;
    expect(remembered == (descending ? 0 : sortInt), "the remembered sort is wrong", sql.toUtf8());
    expect(sql.endsWith(QLatin1String(" Desc ")) == descending, "Desc is wrong", sql.toUtf8());

    // Which rows must come back: every non-empty search text occurs in its column.
    std::vector<std::optional<LikePattern>> patterns;
    for (size_t c = 0; c < 4; ++c) {
        const QString& s = texts[4 + c];
        if (s.isEmpty())
            patterns.emplace_back();
        else
            patterns.emplace_back(view("%" + s.toUtf8() + "%"));
    }
    std::vector<qint64> wanted;
    for (const Row& row : rows_) {
        bool keep = true;
        for (size_t c = 0; c < 4 && keep; ++c) {
            if (patterns[c]) keep = patterns[c]->matches(view(row.texts[c]));
        }
        if (keep) wanted.push_back(row.id);
    }

    Statement st = catalogue_.query(sql);
    static const char* const kNames[] = {"ID", "Name", "File Path", "Category", "Description"};
    expect(st.columnCount() == 5, "the select has the wrong columns", sql.toUtf8());
    for (int c = 0; c < 5; ++c) {
        expect(st.columnName(c) == QLatin1String(kNames[c]), "a column has the wrong name",
               st.columnName(c).toUtf8());
    }
    std::vector<qint64> got;
    const Row* previous = nullptr;
    while (st.step()) {
        const qint64 id = number(field(st, 0));
        const auto it = std::lower_bound(rows_.begin(), rows_.end(), id,
                                         [](const Row& r, qint64 v) { return r.id < v; });
        if (it == rows_.end() || it->id != id)
            fault("the select returned an unknown row", sql.toUtf8());
        for (int c = 0; c < 4; ++c) {
            if (field(st, c + 1) != view(it->texts[static_cast<size_t>(c)]))
                fault("the select returned a text that is not stored", sql.toUtf8());
        }
        // Each row sorts after the one before it.
        if (previous && sortInt == 1) {
            if (id <= previous->id) fault("rows are not in ID order", sql.toUtf8());
        } else if (previous) {
            const auto column = static_cast<size_t>(sortInt - 2);
            const QByteArray& before = previous->texts[column];
            const QByteArray& current = it->texts[column];
            const int order = sign(compareNoCase(view(before), view(current)));
            if (descending ? order < 0 : order > 0)
                fault("rows are not in the asked order", before + "\n" + current);
        }
        previous = &*it;
        got.push_back(id);
    }
    std::sort(got.begin(), got.end());
    expect(got == wanted, "the select did not return exactly the matching rows", sql.toUtf8());
}

void Harness::run(unsigned char control, const std::array<QString, kTexts>& texts) {
    // The window opens a connection for every statement; under the sanitizers
    // an open costs milliseconds, so here a fresh one every few inputs proves
    // that what was stored stays stored.
    if (inputs_ % kInputsPerConnection == 0) catalogue_.begin();
    if (++inputs_ % kInputsPerCatalogue == 0) {
        catalogue_.run(QStringLiteral("delete from SoundData"));
        expect(count() == 0, "the catalogue could not be emptied");
        rows_.clear();
    }
    const auto holdsNul = [&](size_t from) {
        for (size_t i = from; i < from + 4; ++i) {
            if (texts[i].contains(QChar(0))) return true;
        }
        return false;
    };

    if ((control & 0x40) && !rows_.empty()) {
        removeOne(static_cast<size_t>(texts[0].size() + texts[4].size()) % rows_.size());
    }
    // The window refuses to store a NUL, and a search text with one matches
    // nothing without asking the catalogue.
    if (!holdsNul(0)) add(texts);
    if (!holdsNul(4)) select(control, texts);
    checkTable("the table changed behind our back");
    if (inputs_ % kInputsPerConnection == 0) catalogue_.end();
}

Harness& harness() {
    static Harness h;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned char control = data[0];
    std::array<QByteArray, kTexts> raw;
    size_t current = 0;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == kSeparator && current + 1 < kTexts) {
            ++current;
        } else {
            raw[current].append(static_cast<char>(data[i]));
        }
    }

    for (size_t c = 0; c < 4; ++c) {
        checkOrder(raw[c], raw[c + 4]);
        checkLike(raw[c + 4], raw[c]);
        checkLike(raw[c], raw[c + 4]);
        checkLike("%" + raw[c + 4] + "%", raw[c]);
    }
    checkTransitive(raw[0], raw[1], raw[2]);
    checkTransitive(raw[4], raw[5], raw[6]);

    std::array<QString, kTexts> texts;
    for (size_t i = 0; i < kTexts; ++i) texts[i] = QString::fromUtf8(raw[i]);
    try {
        harness().run(control, texts);
    } catch (const DbError& e) {
        fault("the catalogue failed", e.message().toUtf8() + "\n" + e.statement().toUtf8());
    }
    return 0;
}
