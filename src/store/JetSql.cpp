// The Jet SQL parser: recursive descent over the tokens of JetSqlLexer into statement trees.
#include "store/JetSql.h"

#include <cassert>

#include "store/JetSqlLexer.h"
#include "store/TextRules.h"

namespace yubin::db::sql {

namespace {

class Parser {
  public:
    // The parser moves only over tokens it has looked at and never past the End token that
    // closes every token list, so peek() and the look one token ahead of a word stay inside.
    explicit Parser(std::string_view text) : text_(text), tokens_(tokenize(text)) {
        assert(!tokens_.empty() && tokens_.back().kind == TokenKind::End);
    }

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
    const Token& peek() const {
        assert(index_ < tokens_.size());
        return tokens_[index_];
    }
    const Token& advance() {
        assert(peek().kind != TokenKind::End);
        return tokens_[index_++];
    }

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
                             Message("SQL 文の数値 {1} が大きすぎます: {2}", n.text, text_));
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
                        throw YubinError(
                            ErrorCode::BadFieldDefinition,
                            Message("列 {1}.{2} の文字数は 1 ～ 255 で指定してください（{3} "
                                    "バイト目）: {4}",
                                    c.table, column.name, std::to_string(at + 1), text_));
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

}  // namespace yubin::db::sql
