#pragma once

#include <sqlite3.h>

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

// A LIKE pattern compiled once: % any run, _ any one character, an optional
// escape character that makes the next one literal.
class LikePattern {
public:
    LikePattern(std::string_view pattern, char32_t escape = 0);
    bool matches(std::string_view text) const;

private:
    std::vector<char32_t> items_;  // folded characters and the two wildcard markers
};

// Replaces `like` (two and three arguments) and `NOCASE` on this connection.
void registerUnicodeCaseFolding(sqlite3* db);

}  // namespace kalvero::store
