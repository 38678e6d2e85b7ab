#pragma once

#include <sqlite3.h>

#include <QtGlobal>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace kalvero::store {

// Case folding for the catalogue's text comparisons. The engine's own LIKE
// and NOCASE fold ASCII letters only; users search in every script, so each
// connection gets a `like` function and a `NOCASE` collation that fold the
// whole of Unicode. ASCII text takes a byte-wise fast path.

char32_t foldCase(char32_t c);

// Compares two UTF-8 texts ignoring letter case: <0, 0 or >0.
int compareNoCase(std::string_view a, std::string_view b);

// The next character of a UTF-8 text as compareNoCase() and LIKE see it:
// decoded (a malformed byte as U+FFFD) and folded. compareNoCase() orders two
// texts as their sequences of these characters. Advances `p`; p < end.
char32_t nextFoldedChar(const unsigned char*& p, const unsigned char* end);

// A LIKE pattern compiled once: % any run, _ any one character, an optional
// escape character that makes the next one literal.
class LikePattern {
public:
    LikePattern(std::string_view pattern, char32_t escape = 0);
    bool matches(std::string_view text) const;

private:
    bool matchesItems(std::string_view text) const;

    std::vector<char32_t> items_;  // folded characters and the two wildcard markers
    // A pattern '%text%' whose text is plain ASCII after folding is searched
    // for byte by byte, since no other character folds into it, except the
    // few past ASCII that do (the long s, the Kelvin sign): a text holding a
    // lead byte of one of those is matched character by character instead.
    std::string asciiInfix_;
    std::array<quint64, 4> unsafeLeads_{};
    bool anyUnsafeLead_ = false;
};

// Builds the lookup tables the folding keeps (some milliseconds, once), so
// that a thread that must be quick later does not pay for them.
void prepareFolding();

// Replaces `like` (two and three arguments) and `NOCASE` on this connection.
void registerUnicodeCaseFolding(sqlite3* db);

}  // namespace kalvero::store
