#include "cli/Cli.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <string>

#include "base/Error.h"
#include "base/Message.h"
#include "base/Program.h"
#include "base/Translation.h"
#include "cli/CliMessages.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/SafeText.h"
#include "import/mdInport.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace {

const char* const kExitCodesHelp = TrMark(
    "終了コード: 0 成功; 1 エラー（番号と説明を表示）、\n"
    "lookup と search では見つからないものがある; 2 引数の誤り;\n"
    "3 拒否（取り込みの権限がない、古いデータの置き換えを断った、\n"
    "同じデータベースで別の取り込みが実行中、事業所個別版の継続中に全国版を指定）;\n"
    "4 事業所個別版には先に全国版が必要;\n"
    "5 取り込みは完了、他のプログラムが使用中のため最適化だけが未実行（後で compact）;\n"
    "10 PostgreSQL がログインを拒否; 11 PostgreSQL サーバーが応答しない;\n"
    "12 スキーマを作成・置換する権限がない;\n"
    "130 取り込みを中止した（Ctrl-C または SIGTERM。次の取り込みで続きから）。\n");

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

void UseLocaleLanguage() {
    UseLanguage(LanguageOfEnvironment(), LocaleFolder(RunningExecutableFolder()));
}

const char* NoDisplayMessage() {
    // The list of subcommands on one line: tests compare it with --help and the man page.
    return Tr(
        "yubinbox: ウィンドウを表示できません（画面がありません）。\n"
        "画面のない所では次のサブコマンドを使ってください。一覧は yubinbox --help で表示されます:\n"
        "  createdb, sql, compact, tables, use, settings, drives, newdb, import, summary, "
        "lookup, search, publish, changes\n");
}

std::string WindowsModuleMissingMessage(const std::string& module, const std::string& reason) {
    return Format(Tr("yubinbox: ウィンドウの部品 {1} を読み込めません（{2}）。\n"), module, reason);
}

int RunCommandLine(int argc, char** argv) {
    UseLocaleLanguage();
    CLI::App app{Tr("yubinbox: 郵便番号データベースの作成と取り込み")};
    UseLocalHelp(app);
    app.footer(Tr(kExitCodesHelp));
    app.require_subcommand(1);
    // The program's options (--lock-wait) are taken after the subcommand too.
    app.fallthrough();
    app.set_version_flag("--version", "yubinbox " YUBIN_VERSION, Tr("バージョンを表示して終了"));
    double lockWaitSeconds = 30;
    app.add_option("--lock-wait", lockWaitSeconds,
                   Tr("他のプログラムがデータベースを使用中のときに待つ秒数（既定 30）"))
        ->check(CLI::NonNegativeNumber.description(""));

    CommandRun chosen;
    for (const Command& command : Commands()) {
        CLI::App* subcommand = app.add_subcommand(command.name, Tr(command.help));
        CommandRun run = command.setup(*subcommand);
        subcommand->callback([&chosen, run] { chosen = run; });
    }
    UseLocalFailureMessages(app);

    if (const std::optional<std::string> option = UnknownLeadingOption(app, argc, argv)) {
        std::cerr << "yubinbox: " << Format(Tr("不明なオプションです: {1}"), Printable(*option))
                  << '\n'
                  << Tr(kSeeHelp) << std::endl;
        return kExitUsage;
    }
    if (const std::optional<std::string> unknown = UnknownSubcommand(app, argc, argv)) {
        std::cerr << "yubinbox: " << Format(Tr("不明なサブコマンドです: {1}"), Printable(*unknown))
                  << '\n'
                  << Tr(kSeeHelp) << std::endl;
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
        if (waiting)
            std::cerr << "yubinbox: " << Tr(mdInport::kWaitingForOtherProgram) << std::endl;
    });
    return FinishStandardOutput(RunChosen(chosen));
}

}  // namespace yubin::cli
