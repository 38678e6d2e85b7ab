#include "store/unicodefold.h"

#include "store/statementpacer.h"

#include <QChar>

#include <memory>

namespace kalvero::store {

namespace {

constexpr char32_t kAnyRun = 0x110000;  // %
constexpr char32_t kAnyOne = 0x110001;  // _
constexpr char32_t kReplacement = 0xFFFD;

inline unsigned char asciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Folds for U+0080..U+07FF (Latin, Greek, Cyrillic, Hebrew, Arabic...), the
// non-ASCII letters met most, looked up instead of asked of Qt each time.
struct TwoByteFolds {
    char32_t fold[0x800];
    TwoByteFolds() {
        for (char32_t c = 0; c < 0x800; ++c)
            fold[c] = c < 0x80 ? asciiLower(static_cast<unsigned char>(c)) : QChar::toCaseFolded(c);
    }
};
const TwoByteFolds& twoByteFolds() {
    static const TwoByteFolds table;
    return table;
}

// Decodes one code point and advances p. Malformed bytes become U+FFFD one
// byte at a time, so any byte string can be compared and matched.
inline char32_t decodeUtf8(const unsigned char*& p, const unsigned char* end) {
    const unsigned char c = *p++;
    if (c < 0x80) return c;
    int extra;
    char32_t cp;
    if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        cp = c & 0x07;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        cp = c & 0x0F;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        cp = c & 0x1F;
    } else {
        return kReplacement;
    }
    if (end - p < extra) return kReplacement;
    // The second byte's range rules out overlong forms (an overlong '%' must
    // not become a wildcard), surrogates and code points past U+10FFFF, which
    // would collide with the pattern's wildcard markers.
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    if (p[0] < low || p[0] > high) return kReplacement;
    for (int i = 1; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return kReplacement;
    }
    for (int i = 0; i < extra; ++i) cp = (cp << 6) | (*p++ & 0x3F);
    return cp;
}

// For each ASCII character, the lead bytes of the UTF-8 forms of the
// characters past ASCII that fold to it. Worked out once from the folding
// itself, all code points asked, so that it follows Qt's tables.
struct AsciiPreimages {
    std::array<quint64, 4> leads[0x80] = {};
    AsciiPreimages() {
        for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const char32_t f = foldCase(c);
            if (f >= 0x80) continue;
            const unsigned lead = c < 0x800     ? 0xC0 | (c >> 6)
                                  : c < 0x10000 ? 0xE0 | (c >> 12)
                                                : 0xF0 | (c >> 18);
            leads[f][lead / 64] |= quint64(1) << (lead % 64);
        }
    }
};

const AsciiPreimages& asciiPreimages() {
    static const AsciiPreimages table;
    return table;
}

// Whether `text` holds `needle` (folded ASCII), ASCII letters in either case.
bool containsAsciiFolded(const unsigned char* text, size_t length, const std::string& needle) {
    const size_t k = needle.size();
    if (k > length) return false;
    const auto first = static_cast<unsigned char>(needle[0]);
    // Or-ing 0x20 takes an upper-case letter to its lower case and nothing
    // else to a letter; other characters are compared as they are.
    const unsigned char caseBit = first >= 'a' && first <= 'z' ? 0x20 : 0;
    const unsigned char* const last = text + (length - k);
    for (const unsigned char* p = text; p <= last; ++p) {
        if ((*p | caseBit) != first) continue;
        size_t i = 1;
        while (i < k && asciiLower(p[i]) == static_cast<unsigned char>(needle[i])) ++i;
        if (i == k) return true;
    }
    return false;
}

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    // like(pattern, text[, escape]); a NULL anywhere gives NULL, as in the engine.
    for (int i = 0; i < argc; ++i) {
        if (sqlite3_value_type(argv[i]) == SQLITE_NULL) return;
    }
    char32_t escape = 0;
    if (argc == 3) {
        const auto* e = sqlite3_value_text(argv[2]);
        const int n = sqlite3_value_bytes(argv[2]);
        const auto* p = e;
        if (n == 0 || (decodeUtf8(p, e + n), p != e + n)) {
            sqlite3_result_error(ctx, "ESCAPE expression must be a single character", -1);
            return;
        }
        p = e;
        escape = foldCase(decodeUtf8(p, e + n));
    }
    const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    const std::string_view text(t, static_cast<size_t>(sqlite3_value_bytes(argv[1])));
    // The pattern is the same on every row of a statement: compile it once.
    if (argc == 2) {
        if (auto* cached = static_cast<LikePattern*>(sqlite3_get_auxdata(ctx, 0))) {
            sqlite3_result_int(ctx, cached->matches(text) ? 1 : 0);
            return;
        }
    }
    const auto* pt = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    auto compiled = std::make_unique<LikePattern>(
        std::string_view(pt, static_cast<size_t>(sqlite3_value_bytes(argv[0]))), escape);
    sqlite3_result_int(ctx, compiled->matches(text) ? 1 : 0);
    if (argc == 2) {
        // The engine may free it at once; it is not used after this call.
        sqlite3_set_auxdata(ctx, 0, compiled.release(),
                            [](void* p) { delete static_cast<LikePattern*>(p); });
    }
}

int noCaseCollation(void*, int na, const void* a, int nb, const void* b) {
    // A sort runs inside one step of the engine: the window takes its turns here.
    if (collationTick()) return 0;
    return compareNoCase(std::string_view(static_cast<const char*>(a), static_cast<size_t>(na)),
                         std::string_view(static_cast<const char*>(b), static_cast<size_t>(nb)));
}

}  // namespace

char32_t foldCase(char32_t c) {
    if (c < 0x80) return asciiLower(static_cast<unsigned char>(c));
    if (c < 0x800) return twoByteFolds().fold[c];
    if (c > 0x10FFFF) return c;
    return QChar::toCaseFolded(c);
}

int compareNoCase(std::string_view a, std::string_view b) {
    auto* pa = reinterpret_cast<const unsigned char*>(a.data());
    auto* pb = reinterpret_cast<const unsigned char*>(b.data());
    const auto* ea = pa + a.size();
    const auto* eb = pb + b.size();
    while (pa < ea && pb < eb) {
        const unsigned char ca = *pa, cb = *pb;
        if ((ca | cb) < 0x80) {
            // Both ASCII, the common case: equal bytes need no folding.
            if (ca != cb) {
                const unsigned char la = asciiLower(ca), lb = asciiLower(cb);
                if (la != lb) return la < lb ? -1 : 1;
            }
            ++pa;
            ++pb;
            continue;
        }
        if (ca == cb && ca >= 0xC2 && ca <= 0xDF && ea - pa >= 2 && eb - pb >= 2 &&
            pa[1] == pb[1] && (pa[1] & 0xC0) == 0x80) {
            // The same valid two-byte character (Latin, Greek, Cyrillic...):
            // equal without decoding it.
            pa += 2;
            pb += 2;
            continue;
        }
        const char32_t ua = foldCase(decodeUtf8(pa, ea));
        const char32_t ub = foldCase(decodeUtf8(pb, eb));
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return (pa < ea ? 1 : 0) - (pb < eb ? 1 : 0);
}

char32_t nextFoldedChar(const unsigned char*& p, const unsigned char* end) {
    if (*p < 0x80) return asciiLower(*p++);
    return foldCase(decodeUtf8(p, end));
}

LikePattern::LikePattern(std::string_view pattern, char32_t escape) {
    auto* p = reinterpret_cast<const unsigned char*>(pattern.data());
    const auto* end = p + pattern.size();
    items_.reserve(pattern.size());
    while (p < end) {
        const char32_t c = foldCase(decodeUtf8(p, end));
        if (escape && c == escape) {
            // An escape at the very end stands for itself.
            items_.push_back(p < end ? foldCase(decodeUtf8(p, end)) : c);
        } else if (c == U'%') {
            if (items_.empty() || items_.back() != kAnyRun) items_.push_back(kAnyRun);
        } else if (c == U'_') {
            items_.push_back(kAnyOne);
        } else {
            items_.push_back(c);
        }
    }
    const size_t n = items_.size();
    if (n < 3 || items_.front() != kAnyRun || items_.back() != kAnyRun) return;
    std::string infix;
    std::array<quint64, 4> unsafe{};
    for (size_t i = 1; i + 1 < n; ++i) {
        if (items_[i] >= 0x80) return;
        infix += static_cast<char>(items_[i]);
        const std::array<quint64, 4>& leads = asciiPreimages().leads[items_[i]];
        for (size_t w = 0; w < unsafe.size(); ++w) unsafe[w] |= leads[w];
    }
    asciiInfix_ = std::move(infix);
    unsafeLeads_ = unsafe;
    anyUnsafeLead_ = unsafe != std::array<quint64, 4>{};
}

bool LikePattern::matches(std::string_view text) const {
    if (asciiInfix_.empty()) return matchesItems(text);
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    if (anyUnsafeLead_) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (t[i] >= 0x80 && (unsafeLeads_[t[i] / 64] >> (t[i] % 64) & 1))
                return matchesItems(text);
        }
    }
    return containsAsciiFolded(t, text.size(), asciiInfix_);
}

bool LikePattern::matchesItems(std::string_view text) const {
    // Greedy matching with one backtrack point: linear in most patterns,
    // never worse than text length times pattern length. The text is folded
    // one character at a time as it is read, ASCII bytes without decoding.
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = t + text.size();
    const char32_t* const items = items_.data();
    const size_t np = items_.size();
    size_t p = 0;
    size_t starP = SIZE_MAX;
    const unsigned char* starT = nullptr;
    while (t < end) {
        if (p < np && items[p] == kAnyRun) {
            // A % that ends the pattern takes whatever is left.
            if (p + 1 == np) return true;
            starP = p++;
            starT = t;
            continue;
        }
        const unsigned char* next = t;
        const char32_t c = *next < 0x80 ? asciiLower(*next++) : foldCase(decodeUtf8(next, end));
        if (p < np && (items[p] == kAnyOne || items[p] == c)) {
            ++p;
            t = next;
            continue;
        }
        if (starP == SIZE_MAX) return false;
        // Retry one character further on. Where the pattern goes on with an
        // ASCII character, ASCII bytes that fold to another one cannot start
        // a match and are passed over at once.
        p = starP + 1;
        if (*starT < 0x80)
            ++starT;
        else
            decodeUtf8(starT, end);
        if (p < np && items[p] < 0x80) {
            const char32_t want = items[p];
            while (starT < end && *starT < 0x80 && asciiLower(*starT) != want) ++starT;
        }
        t = starT;
    }
    while (p < np && items[p] == kAnyRun) ++p;
    return p == np;
}

void prepareFolding() {
    twoByteFolds();
    asciiPreimages();
}

void registerUnicodeCaseFolding(sqlite3* db) {
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
    sqlite3_create_function_v2(db, "like", 2, flags, nullptr, likeFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_function_v2(db, "like", 3, flags, nullptr, likeFunction, nullptr, nullptr,
                               nullptr);
    sqlite3_create_collation_v2(db, "NOCASE", SQLITE_UTF8, nullptr, noCaseCollation, nullptr);
}

}  // namespace kalvero::store
