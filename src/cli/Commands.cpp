// The table of subcommands.
//
// A new subcommand is one new file and one line here: write commands/Name.cpp with
// `CommandRun SetupName(CLI::App& command)`, which adds the subcommand's arguments and options
// to `command` and returns the run that reads them (see commands/Tables.cpp for a small one);
// declare it below and add its line to the table where it is to appear in --help. The build
// takes every file of commands/ by itself.
#include "cli/Command.h"

#include "base/Translation.h"

namespace yubin::cli {

CommandRun SetupCreateDb(CLI::App& command);
CommandRun SetupSql(CLI::App& command);
CommandRun SetupCompact(CLI::App& command);
CommandRun SetupTables(CLI::App& command);
CommandRun SetupUse(CLI::App& command);
CommandRun SetupSettings(CLI::App& command);
CommandRun SetupDrives(CLI::App& command);
CommandRun SetupNewDb(CLI::App& command);
CommandRun SetupImport(CLI::App& command);
CommandRun SetupPublish(CLI::App& command);
CommandRun SetupSummary(CLI::App& command);
CommandRun SetupLookup(CLI::App& command);
CommandRun SetupSearch(CLI::App& command);
CommandRun SetupChanges(CLI::App& command);

const std::vector<Command>& Commands() {
    static const std::vector<Command> table = {
        {"createdb", TrMark("空のデータベース FILE を作成"), SetupCreateDb},
        {"sql", TrMark("FILE に SQL 文を 1 つ実行"), SetupSql},
        {"compact", TrMark("データベース FILE をその場で最適化"), SetupCompact},
        {"tables", TrMark("FILE のテーブルの一覧"), SetupTables},
        {"use", TrMark("設定ファイルを既存のデータベースに向ける"), SetupUse},
        {"settings", TrMark("設定ファイルとそのキーを表示"), SetupSettings},
        {"drives", TrMark("データベースを作成できる場所の一覧"), SetupDrives},
        {"newdb", TrMark("FOLDER に yubinbox.mdb を作成（古いものは日付付きで残す）"), SetupNewDb},
        {"import", TrMark("ken_all.csv と jigyosyo.csv を取り込む"), SetupImport},
        {"publish", TrMark("データベースを PostgreSQL のスキーマに公開"), SetupPublish},
        {"summary", TrMark("登録データの作成日と件数"), SetupSummary},
        {"lookup", TrMark("郵便番号の行を表示（コードがなければ標準入力から 1 行に 1 つ）"),
         SetupLookup},
        {"search", TrMark("名前にすべての語を含む行を表示"), SetupSearch},
        {"changes", TrMark("最後の取り込みの変更報告（追加・削除・変更された郵便番号）"),
         SetupChanges},
    };
    return table;
}

}  // namespace yubin::cli
