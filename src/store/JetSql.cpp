#include "store/JetSql.h"

#include <array>
#include <cstdint>

#include "store/TextRules.h"

namespace yubin::db::sql {

namespace {

enum class TokenKind { Word, Number, Text, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // the word, the digits, the literal's content or the symbol
    size_t offset = 0;
};

// Words that never name a table, column, index or alias.
constexpr std::array<std::string_view, 33> kReserved = {
    "ADD",     "ALTER",  "AND",  "AS",    "BETWEEN", "BY",     "CONSTRAINT", "CREATE", "DELETE",
    "DROP",    "EXISTS", "FROM", "GROUP", "HAVING",  "IN",     "INDEX",      "INSERT", "INTO",
    "IS",      "JOIN",   "KEY",  "LIKE",  "NOT",     "NULL",   "ON",         "OR",     "ORDER",
    "PRIMARY", "SELECT", "SET",  "TABLE", "UPDATE",  "VALUES",
};

bool isReserved(std::string_view word) {
    for (std::string_view r : kReserved) {
        if (detail::namesEqual(word, r)) return true;
    }
    return false;
}

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

[[noreturn]] void syntaxError(std::string_view text, size_t offset, std::string_view what) {
    std::string message = "SQL 文の構文エラー: ";
    message += what;
    message += "（";
    message += std::to_string(offset + 1);
    message += " バイト目付近）: ";
    message += text;
    throw YubinError(ErrorCode::SyntaxError, message);
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

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text), tokens_(Lexer(text).tokens()) {}

    Statement statement() {
        Statement result;
        if (acceptKeyword("CREATE")) {
            if (acceptKeyword("TABLE")) {
                result = createTable();
            } else if (acceptKeyword("INDEX")) {
                result = createIndex();
            } else {
                fail("CREATE の後には TABLE か INDEX が必要です");
            }
        } else if (acceptKeyword("DROP")) {
            expectKeyword("INDEX");
            DropIndex d;
            d.name = name("インデックス名");
            expectKeyword("ON");
            d.table = name("テーブル名");
            result = std::move(d);
        } else if (acceptKeyword("ALTER")) {
            result = alterTable();
        } else if (acceptKeyword("INSERT")) {
            result = insert();
        } else if (acceptKeyword("UPDATE")) {
            result = update();
        } else if (acceptKeyword("DELETE")) {
            acceptSymbol("*");
            expectKeyword("FROM");
            Delete d;
            d.table = name("テーブル名");
            d.where = optionalWhere();
            result = std::move(d);
        } else if (acceptKeyword("SELECT")) {
            result = select();
        } else {
            fail("この SQL 文には対応していません");
        }
        acceptSymbol(";");
        if (peek().kind != TokenKind::End) fail("文の終わりの後に余分な語があります");
        return result;
    }

    std::optional<std::string> tableNameOnly() {
        const Token& t = peek();
        if (t.kind != TokenKind::Word || isReserved(t.text)) return std::nullopt;
        if (tokens_.size() != 2) return std::nullopt;
        return t.text;
    }

  private:
    const Token& peek() const { return tokens_[index_]; }
    const Token& advance() { return tokens_[index_++]; }

    [[noreturn]] void fail(std::string_view what) const { syntaxError(text_, peek().offset, what); }

    bool peekKeyword(std::string_view keyword) const {
        return peek().kind == TokenKind::Word && detail::namesEqual(peek().text, keyword);
    }
    bool acceptKeyword(std::string_view keyword) {
        if (!peekKeyword(keyword)) return false;
        ++index_;
        return true;
    }
    void expectKeyword(std::string_view keyword) {
        if (!acceptKeyword(keyword)) fail(std::string(keyword) + " が必要です");
    }
    bool peekSymbol(std::string_view symbol) const {
        return peek().kind == TokenKind::Symbol && peek().text == symbol;
    }
    bool acceptSymbol(std::string_view symbol) {
        if (!peekSymbol(symbol)) return false;
        ++index_;
        return true;
    }
    void expectSymbol(std::string_view symbol) {
        if (!acceptSymbol(symbol)) fail("「" + std::string(symbol) + "」が必要です");
    }

    std::string name(std::string_view what) {
        const Token& t = peek();
        if (t.kind != TokenKind::Word) fail(std::string(what) + "が必要です");
        if (isReserved(t.text))
            fail("予約語「" + t.text + "」は" + std::string(what) + "に使えません");
        ++index_;
        return t.text;
    }

    int number(std::string_view what) {
        const Token& t = peek();
        if (t.kind != TokenKind::Number) fail(std::string(what) + "が必要です");
        long long value = 0;
        if (detail::parseWholeNumber(t.text, value) != detail::WholeNumber::Ok || value > 1000000) {
            fail(std::string(what) + "が大きすぎます");
        }
        ++index_;
        return static_cast<int>(value);
    }

    Value literal(bool allowNull) {
        const Token& t = peek();
        if (t.kind == TokenKind::Text) {
            ++index_;
            return Value(t.text);
        }
        if (allowNull && peekKeyword("NULL")) {
            ++index_;
            return Value();
        }
        bool negative = false;
        if (peekSymbol("-") || peekSymbol("+")) {
            negative = advance().text == "-";
        }
        const Token& n = peek();
        if (n.kind != TokenKind::Number) fail("値（'文字列' か整数）が必要です");
        long long value = 0;
        if (detail::parseWholeNumber((negative ? "-" : "") + n.text, value) !=
            detail::WholeNumber::Ok) {
            throw YubinError(ErrorCode::NumericOverflow,
                             "SQL 文の数値 " + n.text + " が大きすぎます: " + std::string(text_));
        }
        ++index_;
        return Value(value);
    }

    CreateTable createTable() {
        CreateTable c;
        c.table = name("テーブル名");
        expectSymbol("(");
        do {
            ColumnSpec column;
            column.name = name("列名");
            const Token& type = peek();
            if (type.kind != TokenKind::Word) fail("列の型（Text, Memo, Byte, Long）が必要です");
            if (detail::namesEqual(type.text, "TEXT")) {
                ++index_;
                column.type = ColumnType::Text;
                column.size = 255;
                if (acceptSymbol("(")) {
                    const size_t at = peek().offset;
                    column.size = number("文字数");
                    if (column.size < 1 || column.size > 255) {
                        throw YubinError(ErrorCode::BadFieldDefinition,
                                         "列 " + c.table + "." + column.name +
                                             " の文字数は 1 ～ 255 で指定してください（" +
                                             std::to_string(at + 1) +
                                             " バイト目）: " + std::string(text_));
                    }
                    expectSymbol(")");
                }
            } else if (detail::namesEqual(type.text, "MEMO")) {
                ++index_;
                column.type = ColumnType::Memo;
            } else if (detail::namesEqual(type.text, "BYTE")) {
                ++index_;
                column.type = ColumnType::Byte;
            } else if (detail::namesEqual(type.text, "LONG")) {
                ++index_;
                column.type = ColumnType::Long;
            } else {
                fail("列の型「" + type.text + "」には対応していません（Text, Memo, Byte, Long）");
            }
            c.columns.push_back(std::move(column));
        } while (acceptSymbol(","));
        expectSymbol(")");
        return c;
    }

    CreateIndex createIndex() {
        CreateIndex c;
        c.name = name("インデックス名");
        expectKeyword("ON");
        c.table = name("テーブル名");
        expectSymbol("(");
        c.column = name("列名");
        expectSymbol(")");
        return c;
    }

    Statement alterTable() {
        expectKeyword("TABLE");
        std::string table = name("テーブル名");
        if (acceptKeyword("ADD")) {
            expectKeyword("CONSTRAINT");
            AddPrimaryKey a;
            a.table = std::move(table);
            a.name = name("制約名");
            expectKeyword("PRIMARY");
            expectKeyword("KEY");
            expectSymbol("(");
            a.column = name("列名");
            expectSymbol(")");
            return a;
        }
        if (acceptKeyword("DROP")) {
            expectKeyword("CONSTRAINT");
            DropConstraint d;
            d.table = std::move(table);
            d.name = name("制約名");
            return d;
        }
        fail("ALTER TABLE の後には ADD CONSTRAINT か DROP CONSTRAINT が必要です");
    }

    Insert insert() {
        expectKeyword("INTO");
        Insert i;
        i.table = name("テーブル名");
        if (acceptSymbol("(")) {
            do {
                i.columns.push_back(name("列名"));
            } while (acceptSymbol(","));
            expectSymbol(")");
        }
        expectKeyword("VALUES");
        expectSymbol("(");
        do {
            i.values.push_back(literal(true));
        } while (acceptSymbol(","));
        expectSymbol(")");
        return i;
    }

    Update update() {
        Update u;
        u.table = name("テーブル名");
        expectKeyword("SET");
        do {
            Assignment a;
            a.column = name("列名");
            expectSymbol("=");
            a.value = literal(true);
            u.assignments.push_back(std::move(a));
        } while (acceptSymbol(","));
        u.where = optionalWhere();
        return u;
    }

    Condition optionalWhere() {
        Condition where;
        if (!acceptKeyword("WHERE")) return where;
        do {
            Comparison c;
            c.column = name("列名");
            if (acceptSymbol("=")) {
                c.notEqual = false;
            } else if (acceptSymbol("<>")) {
                c.notEqual = true;
            } else {
                fail("比較には = か <> が必要です");
            }
            c.literal = literal(false);
            where.push_back(std::move(c));
        } while (acceptKeyword("AND"));
        return where;
    }

    SelectItem selectItem() {
        SelectItem item;
        const Token& t = peek();
        const bool call = t.kind == TokenKind::Word &&
                          tokens_[index_ + 1].kind == TokenKind::Symbol &&
                          tokens_[index_ + 1].text == "(";
        if (call && detail::namesEqual(t.text, "COUNT")) {
            index_ += 2;
            expectSymbol("*");
            expectSymbol(")");
            item.kind = SelectKind::CountAll;
        } else if (call &&
                   (detail::namesEqual(t.text, "MAX") || detail::namesEqual(t.text, "MIN"))) {
            item.kind = detail::namesEqual(t.text, "MAX") ? SelectKind::Max : SelectKind::Min;
            index_ += 2;
            item.column = name("列名");
            expectSymbol(")");
        } else if (call) {
            fail("関数「" + t.text + "」には対応していません（COUNT(*), MAX, MIN）");
        } else {
            item.column = name("列名");
        }
        if (acceptKeyword("AS")) item.alias = name("別名");
        return item;
    }

    Select select() {
        Select s;
        if (acceptSymbol("*")) {
            s.all = true;
        } else {
            do {
                s.items.push_back(selectItem());
            } while (acceptSymbol(","));
            for (const SelectItem& item : s.items) {
                if ((item.kind == SelectKind::Column) != (s.items[0].kind == SelectKind::Column)) {
                    fail("集計と列を一緒には選べません");
                }
            }
        }
        expectKeyword("FROM");
        s.table = name("テーブル名");
        s.where = optionalWhere();
        return s;
    }

    std::string_view text_;
    std::vector<Token> tokens_;
    size_t index_ = 0;
};

}  // namespace

Statement parse(std::string_view text) { return Parser(text).statement(); }

Statement parseRowSource(std::string_view text) {
    Parser parser(text);
    if (auto table = parser.tableNameOnly()) {
        Select select;
        select.all = true;
        select.table = std::move(*table);
        return select;
    }
    return parser.statement();
}

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
