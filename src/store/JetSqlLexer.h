// The tokens of a Jet SQL text, for the parser (JetSql.cpp): words (names and keywords),
// numbers, text literals and symbols, and the syntax error that says where a text went wrong.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace yubin::db::sql {

enum class TokenKind { Word, Number, Text, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // the word, the digits, the literal's content or the symbol
    size_t offset = 0;
};

// The tokens of the text in order, always ending in one End token (at the text's end); a
// character outside the grammar raises SyntaxError.
std::vector<Token> tokenize(std::string_view text);

// Words that never name a table, column, index or alias (matched without regard to case).
bool isReserved(std::string_view word);

// Raises SyntaxError: what is wrong, the byte where it was found (counted from 1) and the text.
[[noreturn]] void syntaxError(std::string_view text, size_t offset, std::string_view what);

}  // namespace yubin::db::sql
