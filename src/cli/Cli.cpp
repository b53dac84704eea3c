#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <string>

#include "base/Error.h"
#include "cli/CliMessages.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/SafeText.h"
#include "import/mdInport.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace {

const char* const kExitCodesHelp =
    "終了コード: 0 成功; 1 エラー（番号と説明を表示）、\n"
    "lookup と search では見つからないものがある; 2 引数の誤り;\n"
    "3 拒否（取り込みの権限がない、古いデータの置き換えを断った、\n"
    "同じデータベースで別の取り込みが実行中、事業所個別版の継続中に全国版を指定）;\n"
    "4 事業所個別版には先に全国版が必要;\n"
    "5 取り込みは完了、他のプログラムが使用中のため最適化だけが未実行（後で compact）;\n"
    "10 PostgreSQL がログインを拒否; 11 PostgreSQL サーバーが応答しない;\n"
    "12 スキーマを作成・置換する権限がない;\n"
    "130 取り込みを中止した（Ctrl-C または SIGTERM。次の取り込みで続きから）。\n"
    "Exit codes: 0 success; 1 error (number and description printed), or for lookup and search\n"
    "something not found; 2 wrong arguments; 3 refused; 4 business-office data needs the national\n"
    "data first; 5 the import is complete, only the compaction waits (another program holds the\n"
    "file: run compact later); 10 PostgreSQL refused the login; 11 no PostgreSQL server answered;\n"
    "12 no right to create or replace the schema; 130 import aborted (the next import continues\n"
    "where it stopped).\n";

// The chosen subcommand's run; its errors printed with their number and description.
int RunChosen(const CommandRun& run) {
    int exitCode = kExitOk;
    try {
        exitCode = run ? run() : kExitUsage;
    } catch (const YubinError& error) {
        PrintError(error);
        exitCode = kExitFailure;
    } catch (const std::exception& error) {
        std::cerr << "yubinbox: " << error.what() << std::endl;
        exitCode = kExitFailure;
    }
    try {
        mdlYubinBox::CloseMdb();  // every appended row on disk at the end
    } catch (const YubinError& error) {
        PrintError(error);
        if (exitCode == kExitOk) exitCode = kExitFailure;
    }
    return exitCode;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"yubinbox: 郵便番号データベースの作成と取り込み (postal-code database tool)"};
    UseJapaneseHelp(app);
    app.footer(kExitCodesHelp);
    app.require_subcommand(1);
    // The program's options (--lock-wait) are taken after the subcommand too.
    app.fallthrough();
    app.set_version_flag("--version", "yubinbox " YUBIN_VERSION,
                         "バージョンを表示して終了 / print the version and exit");
    double lockWaitSeconds = 30;
    app.add_option("--lock-wait", lockWaitSeconds,
                   "他のプログラムがデータベースを使用中のときに待つ秒数（既定 30） / seconds to "
                   "wait for another program that holds the database")
        ->check(CLI::NonNegativeNumber.description(""));

    CommandRun chosen;
    for (const Command& command : Commands()) {
        CLI::App* subcommand = app.add_subcommand(command.name, command.help);
        CommandRun run = command.setup(*subcommand);
        subcommand->callback([&chosen, run] { chosen = run; });
    }
    UseJapaneseFailureMessages(app);

    if (const std::optional<std::string> option = UnknownLeadingOption(app, argc, argv)) {
        std::cerr << "yubinbox: 不明なオプションです: " << *option
                  << "\n使い方は --help で表示されます。" << std::endl;
        return kExitUsage;
    }
    if (const std::optional<std::string> unknown = UnknownSubcommand(app, argc, argv)) {
        std::cerr << "yubinbox: 不明なサブコマンドです: " << Printable(*unknown)
                  << "\n使い方は --help で表示されます。" << std::endl;
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return FinishStandardOutput(code == 0 ? kExitOk : kExitUsage);
    }
    // A writer that finds the database held by another program waits, and says so.
    db::setLockWait(std::chrono::milliseconds(static_cast<long long>(lockWaitSeconds * 1000)));
    db::setWaitReporter([](bool waiting) {
        if (waiting) std::cerr << "yubinbox: " << mdInport::kWaitingForOtherProgram << std::endl;
    });
    return FinishStandardOutput(RunChosen(chosen));
}

}  // namespace yubin::cli
