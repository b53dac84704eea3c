// The tokenizer of Jet SQL texts, and the shape of a text (its literals taken out).
#include "store/JetSqlLexer.h"

#include <array>
#include <cassert>

#include "base/Error.h"
#include "store/JetSql.h"
#include "store/TextRules.h"

namespace yubin::db::sql {

namespace {

// Words that never name a table, column, index or alias.
constexpr std::array<std::string_view, 33> kReserved = {
    "ADD",     "ALTER",  "AND",  "AS",    "BETWEEN", "BY",     "CONSTRAINT", "CREATE", "DELETE",
    "DROP",    "EXISTS", "FROM", "GROUP", "HAVING",  "IN",     "INDEX",      "INSERT", "INTO",
    "IS",      "JOIN",   "KEY",  "LIKE",  "NOT",     "NULL",   "ON",         "OR",     "ORDER",
    "PRIMARY", "SELECT", "SET",  "TABLE", "UPDATE",  "VALUES",
};

// Non-ASCII characters that are spaces, punctuation or brackets and so never part of a name.
bool isNonAsciiNameCharacter(char32_t c) {
    if (c < 0xa0) return false;                                 // C1 controls
    if (c <= 0xbf) return c == 0xaa || c == 0xb5 || c == 0xba;  // Latin-1 signs
    if (c == 0xd7 || c == 0xf7) return false;                   // × ÷
    if (c >= 0x2000 && c <= 0x206f) return false;               // general punctuation, spaces
    if (c >= 0x3000 && c <= 0x3004) return false;               // ideographic space, 、。〃〄
    if (c >= 0x3008 && c <= 0x3020) return false;  // brackets 〈〉《》「」『』【】 and marks
    if (c == 0x30fb) return true;                  // ・ in names such as 丁目・番地
    if (c >= 0xff01 && c <= 0xff0f) return false;  // full-width ASCII punctuation
    if (c >= 0xff1a && c <= 0xff20) return false;
    if (c >= 0xff3b && c <= 0xff40) return false;
    if (c >= 0xff5b && c <= 0xff65) return false;  // full-width and half-width brackets, 。「」、
    if (c == 0xfeff || c >= 0xfff0) return false;  // byte-order mark, specials
    return true;
}

class Lexer {
  public:
    explicit Lexer(std::string_view text) : text_(text) {}

    std::vector<Token> tokens() {
        std::vector<Token> out;
        out.reserve(text_.size() / 4 + 2);
        for (;;) {
            Token t = next();
            const bool end = t.kind == TokenKind::End;
            out.push_back(std::move(t));
            if (end) return out;
        }
    }

  private:
    // Decodes one UTF-8 character at pos_; an invalid sequence is a syntax error.
    char32_t decode(size_t& length) const {
        const auto b0 = static_cast<unsigned char>(text_[pos_]);
        int extra = 0;
        char32_t c = 0;
        if (b0 < 0x80) {
            length = 1;
            return b0;
        } else if (b0 >= 0xc2 && b0 <= 0xdf) {
            extra = 1;
            c = b0 & 0x1f;
        } else if (b0 >= 0xe0 && b0 <= 0xef) {
            extra = 2;
            c = b0 & 0x0f;
        } else if (b0 >= 0xf0 && b0 <= 0xf4) {
            extra = 3;
            c = b0 & 0x07;
        } else {
            syntaxError(text_, pos_, "UTF-8 として正しくない文字があります");
        }
        if (pos_ + extra >= text_.size()) {
            syntaxError(text_, pos_, "UTF-8 として正しくない文字があります");
        }
        for (int i = 1; i <= extra; ++i) {
            const auto b = static_cast<unsigned char>(text_[pos_ + i]);
            if ((b & 0xc0) != 0x80)
                syntaxError(text_, pos_, "UTF-8 として正しくない文字があります");
            c = (c << 6) | (b & 0x3f);
        }
        const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < minimum[extra] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) {
            syntaxError(text_, pos_, "UTF-8 として正しくない文字があります");
        }
        length = static_cast<size_t>(extra) + 1;
        return c;
    }

    static bool isAsciiNameCharacter(char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    }

    // Length of the name character at pos_, or 0 when the character ends a name.
    size_t nameCharacter() const {
        assert(pos_ < text_.size());
        const char c = text_[pos_];
        if (static_cast<unsigned char>(c) < 0x80) return isAsciiNameCharacter(c) ? 1 : 0;
        size_t length = 0;
        const char32_t code = decode(length);
        return isNonAsciiNameCharacter(code) ? length : 0;
    }

    Token next() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\n')) {
            ++pos_;
        }
        Token t;
        t.offset = pos_;
        if (pos_ >= text_.size()) return t;
        const char c = text_[pos_];
        if (c >= '0' && c <= '9') {
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            if (pos_ < text_.size() && nameCharacter() != 0) {
                syntaxError(text_, t.offset, "名前は数字で始められません");
            }
            t.kind = TokenKind::Number;
            t.text = std::string(text_.substr(t.offset, pos_ - t.offset));
            return t;
        }
        if (c == '\'') {
            ++pos_;
            for (;;) {
                if (pos_ >= text_.size()) syntaxError(text_, t.offset, "文字列が閉じていません");
                if (text_[pos_] == '\'') {
                    if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                        t.text += '\'';
                        pos_ += 2;
                        continue;
                    }
                    ++pos_;
                    break;
                }
                t.text += text_[pos_++];
            }
            t.kind = TokenKind::Text;
            return t;
        }
        if (c == '<' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '>') {
            pos_ += 2;
            t.kind = TokenKind::Symbol;
            t.text = "<>";
            return t;
        }
        if (c == '(' || c == ')' || c == ',' || c == '=' || c == '*' || c == ';' || c == '-' ||
            c == '+') {
            ++pos_;
            t.kind = TokenKind::Symbol;
            t.text = std::string(1, c);
            return t;
        }
        size_t length = nameCharacter();
        if (length == 0) syntaxError(text_, pos_, "使えない文字があります");
        while (pos_ < text_.size() && (length = nameCharacter()) != 0) pos_ += length;
        t.kind = TokenKind::Word;
        t.text = std::string(text_.substr(t.offset, pos_ - t.offset));
        return t;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

bool isReserved(std::string_view word) {
    for (std::string_view r : kReserved) {
        if (detail::namesEqual(word, r)) return true;
    }
    return false;
}

[[noreturn]] void syntaxError(std::string_view text, size_t offset, std::string_view what) {
    throw YubinError(
        ErrorCode::SyntaxError,
        Message("SQL 文の構文エラー: {1}（{2} バイト目付近）: {3}", what, offset + 1, text));
}

std::vector<Token> tokenize(std::string_view text) { return Lexer(text).tokens(); }

bool literalShape(std::string_view text, std::string& shape, std::vector<std::string>& literals) {
    shape.clear();
    size_t count = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t quote = text.find('\'', pos);
        if (quote == std::string_view::npos) {
            shape.append(text.substr(pos));
            break;
        }
        shape.append(text.substr(pos, quote - pos));
        shape += "''";
        // The literal's content as the lexer reads it: '' inside stands for one quote.
        if (count == literals.size()) literals.emplace_back();
        std::string& literal = literals[count++];
        literal.clear();
        pos = quote + 1;
        for (;;) {
            const size_t end = text.find('\'', pos);
            if (end == std::string_view::npos) {
                literals.resize(count);
                return false;
            }
            literal.append(text.substr(pos, end - pos));
            if (end + 1 < text.size() && text[end + 1] == '\'') {
                literal += '\'';
                pos = end + 2;
                continue;
            }
            pos = end + 1;
            break;
        }
    }
    literals.resize(count);
    return true;
}

}  // namespace yubin::db::sql
