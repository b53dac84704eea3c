// The table of subcommands.
//
// A new subcommand is one new file and one line here: write commands/Name.cpp with
// `CommandRun SetupName(CLI::App& command)`, which adds the subcommand's arguments and options
// to `command` and returns the run that reads them (see commands/Tables.cpp for a small one);
// declare it below and add its line to the table where it is to appear in --help. The build
// takes every file of commands/ by itself.
#include "cli/Command.h"

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
        {"createdb", "空のデータベース FILE を作成 / create an empty database FILE", SetupCreateDb},
        {"sql", "FILE に SQL 文を 1 つ実行 / run one SQL statement on FILE", SetupSql},
        {"compact", "データベース FILE をその場で最適化 / compact the database FILE in place",
         SetupCompact},
        {"tables", "FILE のテーブルの一覧 / list the tables of FILE", SetupTables},
        {"use", "設定ファイルを既存のデータベースに向ける / point the settings file at a database",
         SetupUse},
        {"settings", "設定ファイルとそのキーを表示 / show the settings file and its keys",
         SetupSettings},
        {"drives", "データベースを作成できる場所の一覧 / places a database may be created",
         SetupDrives},
        {"newdb",
         "FOLDER に yubinbox.mdb を作成（古いものは日付付きで残す） / create yubinbox.mdb in "
         "FOLDER",
         SetupNewDb},
        {"import", "ken_all.csv と jigyosyo.csv を取り込む / import the postal-code data files",
         SetupImport},
        {"publish",
         "データベースを PostgreSQL のスキーマに公開 / publish the database to PostgreSQL",
         SetupPublish},
        {"summary", "登録データの作成日と件数 / dates and counts of the registered data",
         SetupSummary},
        {"lookup",
         "郵便番号の行を表示（コードがなければ標準入力から 1 行に 1 つ） / rows of postal codes",
         SetupLookup},
        {"search", "名前にすべての語を含む行を表示 / rows whose names contain every word",
         SetupSearch},
        {"changes",
         "最後の取り込みの変更報告（追加・削除・変更された郵便番号） / the change report of the "
         "last import",
         SetupChanges},
    };
    return table;
}

}  // namespace yubin::cli
