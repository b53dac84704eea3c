// yubinbox sql FILE STATEMENT: one statement; a SELECT prints its rows as TSV with a header,
// any other statement the number of rows it changed.
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "base/Message.h"
#include "base/Text.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "store/Engine.h"

namespace yubin::cli {

namespace {

struct SqlOptions {
    std::string file;
    std::string statement;
};

bool IsSelect(const std::string& statement) {
    size_t i = statement.find_first_not_of(" \t\r\n(");
    if (i == std::string::npos || statement.size() - i < 6) return false;
    return EqualsIgnoringAsciiCase(std::string_view(statement).substr(i, 6), "select");
}

int RunSql(const SqlOptions& options) {
    auto connection = Connect(options.file);
    if (!IsSelect(options.statement)) {
        const long long changed = connection->execute(options.statement);
        std::cout << Format(Tr("{1} 件"), changed) << std::endl;
        return kExitOk;
    }
    db::Recordset rs;
    rs.open(options.statement, *connection, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    for (int i = 0; i < rs.fieldCount(); ++i) {
        std::cout << (i ? "\t" : "") << rs.field(i).Name();
    }
    std::cout << '\n';
    for (; !rs.eof(); rs.moveNext()) {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            std::cout << (i ? "\t" : "") << rs.field(i).value().toText();
        }
        std::cout << '\n';
    }
    std::cout.flush();
    return kExitOk;
}

}  // namespace

CommandRun SetupSql(CLI::App& command) {
    auto options = std::make_shared<SqlOptions>();
    command.add_option("FILE", options->file, Tr("データベースファイル"))->required();
    command.add_option("STATEMENT", options->statement, Tr("SQL 文"))->required();
    return [options] { return RunSql(*options); };
}

}  // namespace yubin::cli
