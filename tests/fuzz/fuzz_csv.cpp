// libFuzzer target over the CSV reader and the export's row writer.
//
// Every input is used twice.
//
// As a file: whatever the bytes, the reader returns rows or an error that
// names a line of the file. Rows it accepts start on lines in order, hold
// UTF-8 without NUL, and come back the same after the export's writer has
// written them and the reader has read that again.
//
// As texts: one control byte, then texts split by the byte 0xFF, four to a
// row. An empty text is NULL where the control byte's bit for its column
// says so. The rows written as the export writes them must read back byte
// for byte, each on the line it was written on, unless a text is not UTF-8
// or holds a NUL; then the file must be refused.

#include "importer/csvtransfer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kalvero::importer;

namespace {

constexpr unsigned char kSeparator = 0xFF;

[[noreturn]] void fault(const char* what, const QByteArray& detail = {}) {
    std::fprintf(stderr, "\nfuzz_csv: %s\n", what);
    if (!detail.isEmpty()) {
        const QByteArray shown = detail.left(600).toPercentEncoding(" ,\"'%_;-");
        std::fprintf(stderr, "  %s%s\n", shown.constData(), detail.size() > 600 ? "..." : "");
    }
    std::abort();
}

void expect(bool ok, const char* what, const QByteArray& detail = {}) {
    if (!ok) fault(what, detail);
}

// Whether the reader must take the bytes as a text: well-formed UTF-8
// (RFC 3629: shortest forms, no surrogates, nothing past U+10FFFF) without
// NUL. Written out here rather than asked of Qt, which the reader uses.
bool storable(const QByteArray& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p++;
        if (c == 0) return false;
        if (c < 0x80) continue;
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the next byte
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        for (int i = 0; i < more; ++i, low = 0x80, high = 0xBF) {
            if (p == end || *p < low || *p > high) return false;
            ++p;
        }
    }
    return true;
}

std::array<std::optional<QByteArrayView>, 4> viewsOf(const CsvEntry& texts) {
    std::array<std::optional<QByteArrayView>, 4> views;
    for (size_t c = 0; c < 4; ++c) {
        if (texts[c]) views[c] = QByteArrayView(*texts[c]);
    }
    return views;
}

void readAsFile(const QByteArray& input) {
    const ParsedCsv parsed = parseCatalogueCsv(input);
    const qint64 lines = input.count('\n') + 1;
    if (parsed.error) {
        const QString& error = *parsed.error;
        expect(error.startsWith(QLatin1String("Line ")), "an error names no line", error.toUtf8());
        const qint64 line = error.mid(5, error.indexOf(QLatin1Char(':')) - 5).toLongLong();
        expect(line >= 1 && line <= lines, "an error names a line the file does not have",
               error.toUtf8());
        expect(parsed.rows.empty(), "a refused file gave rows");
        return;
    }
    expect(parsed.named[1], "a file without FilePath was taken");
    QByteArray written(kCsvHeader);
    qint64 previous = 1;
    for (size_t i = 0; i < parsed.rows.size(); ++i) {
        const CsvRow& row = parsed.rows[i];
        // A lone CR ends a record without starting a line.
        expect(row.line >= previous && row.line <= lines, "a row starts on a wrong line",
               QByteArray::number(row.line));
        previous = row.line;
        for (const auto& text : row.texts) {
            if (text) expect(storable(*text), "a text that cannot be stored was taken", *text);
        }
        appendCsvRow(written, QByteArray::number(qulonglong(i) + 1), viewsOf(row.texts));
    }
    const ParsedCsv again = parseCatalogueCsv(written);
    expect(!again.error, "the writer's own file was refused",
           again.error.value_or(QString()).toUtf8());
    expect(again.rows.size() == parsed.rows.size(), "the written file has other rows", written);
    for (size_t i = 0; i < again.rows.size(); ++i) {
        expect(again.rows[i].texts == parsed.rows[i].texts, "a row changed on its way round",
               written);
        expect(again.rows[i].id == QByteArray::number(qulonglong(i) + 1), "an ID changed");
    }
}

void writeAndRead(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const unsigned char control = data[0];
    std::vector<QByteArray> texts(1);
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == kSeparator)
            texts.emplace_back();
        else
            texts.back().append(char(data[i]));
    }
    while (texts.size() % 4 != 0) texts.emplace_back();

    std::vector<CsvEntry> rows;
    std::vector<qint64> lines;
    QByteArray file(kCsvHeader);
    qint64 line = 2;
    bool takeable = true;
    for (size_t first = 0; first < texts.size(); first += 4) {
        CsvEntry row;
        for (size_t c = 0; c < 4; ++c) {
            const QByteArray& text = texts[first + c];
            if (!text.isEmpty() || !(control >> c & 1)) row[c] = text;
            takeable = takeable && storable(text);
        }
        appendCsvRow(file, QByteArray::number(qulonglong(rows.size()) + 1), viewsOf(row));
        rows.push_back(row);
        lines.push_back(line);
        for (const auto& text : row) line += text ? text->count('\n') : 0;
        ++line;
    }
    const ParsedCsv parsed = parseCatalogueCsv(file);
    if (!takeable) {
        expect(parsed.error.has_value(), "a text that cannot be stored was taken", file);
        return;
    }
    expect(!parsed.error, "the writer's file was refused",
           parsed.error.value_or(QString()).toUtf8() + "\n" + file);
    expect(parsed.rows.size() == rows.size(), "the rows read are not the rows written", file);
    for (size_t i = 0; i < rows.size(); ++i) {
        expect(parsed.rows[i].texts == rows[i], "a text did not come back byte for byte", file);
        expect(parsed.rows[i].line == lines[i], "a row is said to start on another line", file);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readAsFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    writeAndRead(data, size);
    return 0;
}
