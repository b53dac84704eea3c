#include "cli/Cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>

#include "base/Error.h"
#include "base/Text.h"
#include "cli/CliImportView.h"
#include "cli/CliMessages.h"
#include "cli/CliQuery.h"
#include "cli/CliSupport.h"
#include "cli/SafeText.h"
#include "import/Administration.h"
#include "import/DataFile.h"
#include "import/ImportSession.h"
#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace fs = std::filesystem;

namespace {

const char* const kExitCodesHelp =
    "終了コード: 0 成功; 1 エラー（番号と説明を表示）、\n"
    "lookup と search では見つからないものがある; 2 引数の誤り;\n"
    "3 拒否（取り込みの権限がない、古いデータの置き換えを断った、\n"
    "同じデータベースで別の取り込みが実行中、事業所個別版の継続中に全国版を指定）;\n"
    "4 事業所個別版には先に全国版が必要;\n"
    "5 取り込みは完了、他のプログラムが使用中のため最適化だけが未実行（後で compact）;\n"
    "130 取り込みを中止した（Ctrl-C または SIGTERM。次の取り込みで続きから）。\n"
    "Exit codes: 0 success; 1 error (number and description printed), or for lookup and search\n"
    "something not found; 2 wrong arguments; 3 refused; 4 business-office data needs the national\n"
    "data first; 5 the import is complete, only the compaction waits (another program holds the\n"
    "file: run compact later); 130 import aborted (the next import continues where it stopped).\n";

int RunCreateDb(const std::string& file, bool force) {
    if (!force && fs::exists(file)) {
        throw YubinError(ErrorCode::DatabaseExists,
                         "ファイル " + file + " は既にあります（置き換えるには --force）。");
    }
    mdlYubinBox::strMdbFile = file;
    mdlYubinBox::CreateMdb();
    std::cout << file << std::endl;
    return kExitOk;
}

bool IsSelect(const std::string& statement) {
    size_t i = statement.find_first_not_of(" \t\r\n(");
    if (i == std::string::npos || statement.size() - i < 6) return false;
    return EqualsIgnoringAsciiCase(std::string_view(statement).substr(i, 6), "select");
}

int RunSql(const std::string& file, const std::string& statement) {
    auto connection = Connect(file);
    if (!IsSelect(statement)) {
        const long long changed = connection->execute(statement);
        std::cout << changed << " 件" << std::endl;
        return kExitOk;
    }
    db::Recordset rs;
    rs.open(statement, *connection, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
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

int RunTables(const std::string& file, bool all) {
    auto connection = Connect(file);
    for (const db::TableInfo& table : connection->tables(all)) {
        std::cout << table.name << (table.hidden ? "\thidden" : "") << '\n';
    }
    return kExitOk;
}

int RunUse(const std::string& file) {
    const std::string path = Absolute(file);
    mdFileCreate::CheckIniFileValues(path, "");
    Connect(path)->close();  // an existing database of ours
    mdFileCreate::IniFileCreate(path, "");
    mdFileCreate::SetIniFilePath();
    std::cout << mdFileCreate::strIniFile << std::endl;
    return kExitOk;
}

int RunSettings() {
    mdFileCreate::SetIniFilePath();
    std::cout << mdFileCreate::strIniFile << '\n';
    for (const char* key : {"path", "author", "csvzpath", "csvjpath"}) {
        std::cout << key << '=' << mdFileCreate::ReadKey(key) << '\n';
    }
    return kExitOk;
}

int RunDrives() {
    for (const std::string& entry : mdGETUNC::GetDriveList()) std::cout << entry << '\n';
    return kExitOk;
}

int RunNewDb(const std::string& folder) {
    const std::string database = administration::MakeNewDatabase(Absolute(folder));
    mdFileCreate::SetIniFilePath();
    std::cout << database << '\n' << mdFileCreate::strIniFile << std::endl;
    return kExitOk;
}

struct ImportOptions {
    std::string database;
    std::string nationalFile;
    std::string officeFile;
    bool yes = false;
    double pauseSeconds = 0;
};

int RunImport(const ImportOptions& options) {
    // The database: --db, or the settings file under the main menu's rules.
    if (!options.database.empty()) {
        mdlYubinBox::strMdbFile = Absolute(options.database);
        RequireExistingFile(mdlYubinBox::strMdbFile);
    } else {
        try {
            administration::PrepareImportFromSettings();
        } catch (const YubinError& error) {
            if (error.code() != ErrorCode::PermissionDenied) throw;
            std::cerr << error.description() << std::endl;
            return kExitRefused;
        }
    }
    mdFileCreate::SetIniFilePath();
    const std::array<std::string, 2> files = {
        options.nationalFile.empty() ? "" : Absolute(options.nationalFile),
        options.officeFile.empty() ? "" : Absolute(options.officeFile)};
    if (files[0].empty() && files[1].empty()) {
        std::cerr << import::ImportSession::kNothingChosen << "（--ken-all / --jigyosyo）"
                  << std::endl;
        return kExitUsage;
    }
    static constexpr import::DataKind kinds[2] = {import::DataKind::National,
                                                  import::DataKind::Office};
    for (size_t i = 0; i < 2; ++i) {
        if (!files[i].empty()) import::CheckDataFile(files[i], kinds[i]);
    }

    // Loading, as the import window does it.
    CliImportView view(isatty(STDERR_FILENO) != 0, options.yes);
    import::ImportSession session(view);
    view.attach(session);
    std::cout << "データベース: " << mdlYubinBox::strMdbFile << std::endl;
    session.load();
    mdInport::environment().pauseSeconds = options.pauseSeconds;
    if (!view.summary().empty()) std::cout << ForTerminal(view.summary()) << std::endl;
    if (!session.browseEnabled(0) && !files[0].empty()) {
        std::cerr << "事業所個別郵便番号データの取り込みが途中で中止されています。"
                     "全国版郵便番号データは選択できません（--jigyosyo だけで継続してください）。"
                  << std::endl;
        return kExitRefused;
    }

    // The files given stand for the chooser's results.
    static const std::array<const char*, 2> browseCaptions = {"参照：全国版郵便番号データ(&K)",
                                                              "参照：事業所個別郵便番号データ(&J)"};
    for (int i = 0; i < 2; ++i) {
        if (files[i].empty()) continue;
        session.browse(i, browseCaptions[i]);
        mdInport::strSelFile = files[i];
        mdInport::strSelFileDate = mdInport::FormatStamp(import::DataFileStamp(files[i], kinds[i]));
        session.browseResult(i);
    }

    // 実行. From here Ctrl-C and SIGTERM abort an engine; outside the engines they wait until
    // the step at hand (the index, the compaction) has finished and then end as 終了 does.
    AbortSignalScope signals;
    const import::RunOutcome run = session.run();
    switch (run.result) {
        case import::RunResult::Declined:
            return kExitRefused;
        case import::RunResult::Aborted:
            std::cerr << "取り込みを中止しました。次回の取り込みは途中から継続します。"
                      << std::endl;
            return kExitAborted;
        case import::RunResult::Failed:
            if (run.error->code() == ErrorCode::LockedByOtherUser) {
                std::cerr << run.error->description() << std::endl;
                return kExitRefused;
            }
            throw *run.error;
        default:
            break;
    }
    if (!view.summary().empty()) std::cout << ForTerminal(view.summary()) << std::endl;
    if (g_abortRequested)
        std::cerr << "取り込みは終了しています。終了処理を行います。" << std::endl;

    // 終了: the marker cleared and, after the run, the database compacted. The data is complete
    // by then: a compaction refused because another program holds the file is said as such.
    try {
        session.exit(import::ExitReason::User);
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::FileInUse) throw;
        std::cerr << "取り込みは完了しています（データはすべて登録されました）。"
                     "他のプログラムがデータベースを使用中のため、最適化だけが行われていません。"
                     "後で yubinbox compact "
                  << Printable(mdlYubinBox::strMdbFile) << " を実行してください。\n（"
                  << Printable(error.description()) << "）" << std::endl;
        return kExitCompactionPending;
    }
    return run.officeRefused ? kExitNeedsNational : kExitOk;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"yubinbox: 郵便番号データベースの作成と取り込み (postal-code database tool)"};
    UseJapaneseHelp(app);
    app.footer(kExitCodesHelp);
    app.require_subcommand(1);
    app.set_version_flag("--version", "yubinbox " YUBIN_VERSION,
                         "バージョンを表示して終了 / print the version and exit");

    std::string file, folder, statement;
    bool force = false, all = false;
    ImportOptions importOptions;
    double lockWaitSeconds = 30;
    int exitCode = kExitOk;
    app.add_option("--lock-wait", lockWaitSeconds,
                   "他のプログラムがデータベースを使用中のときに待つ秒数（既定 30） / seconds to "
                   "wait for another program that holds the database")
        ->check(CLI::NonNegativeNumber.description(""));

    std::function<int()> action;

    auto* createdb = app.add_subcommand(
        "createdb", "空のデータベース FILE を作成 / create an empty database FILE");
    createdb->add_option("FILE", file, "データベースファイル / database file")->required();
    createdb->add_flag("--force", force, "既存のファイルを置き換える / replace an existing file");
    createdb->callback([&] { action = [&] { return RunCreateDb(file, force); }; });

    auto* sql =
        app.add_subcommand("sql", "FILE に SQL 文を 1 つ実行 / run one SQL statement on FILE");
    sql->add_option("FILE", file, "データベースファイル / database file")->required();
    sql->add_option("STATEMENT", statement, "SQL 文 / the statement")->required();
    sql->callback([&] { action = [&] { return RunSql(file, statement); }; });

    auto* compact = app.add_subcommand(
        "compact", "データベース FILE をその場で最適化 / compact the database FILE in place");
    compact->add_option("FILE", file, "データベースファイル / database file")->required();
    compact->callback([&] {
        action = [&] {
            RequireExistingFile(file);
            mdlYubinBox::CompactMdb(file);
            return kExitOk;
        };
    });

    auto* tables = app.add_subcommand("tables", "FILE のテーブルの一覧 / list the tables of FILE");
    tables->add_option("FILE", file, "データベースファイル / database file")->required();
    tables->add_flag("--all", all, "隠しテーブルも表示 / also the hidden tables");
    tables->callback([&] { action = [&] { return RunTables(file, all); }; });

    auto* use = app.add_subcommand(
        "use", "設定ファイルを既存のデータベースに向ける / point the settings file at a database");
    use->add_option("DBFILE", file, "データベースファイル / database file")->required();
    use->callback([&] { action = [&] { return RunUse(file); }; });

    auto* settings = app.add_subcommand(
        "settings", "設定ファイルとそのキーを表示 / show the settings file and its keys");
    settings->callback([&] { action = [] { return RunSettings(); }; });

    auto* drives = app.add_subcommand(
        "drives", "データベースを作成できる場所の一覧 / places a database may be created");
    drives->callback([&] { action = [] { return RunDrives(); }; });

    auto* newdb = app.add_subcommand("newdb",
                                     "FOLDER に yubinbox.mdb を作成（古いものは日付付きで残す） / "
                                     "create yubinbox.mdb in FOLDER");
    newdb->add_option("FOLDER", folder, "フォルダー / folder")->required();
    newdb->callback([&] { action = [&] { return RunNewDb(folder); }; });

    auto* importCommand = app.add_subcommand(
        "import", "ken_all.csv と jigyosyo.csv を取り込む / import the postal-code data files");
    importCommand->add_option(
        "--db", importOptions.database,
        "データベースファイル（省略時は設定ファイルの path） / database file");
    importCommand->add_option("--ken-all", importOptions.nationalFile,
                              "全国版郵便番号データのファイル / national data file");
    importCommand->add_option("--jigyosyo", importOptions.officeFile,
                              "事業所個別郵便番号データのファイル / business-office data file");
    importCommand->add_flag(
        "--yes", importOptions.yes,
        "新しい登録データを確認なしで置き換える / replace newer data without asking");
    importCommand
        ->add_option("--pause", importOptions.pauseSeconds,
                     "終了時の待ち時間（秒） / closing pause in seconds")
        ->check(CLI::NonNegativeNumber.description(""));
    importCommand->callback([&] { action = [&] { return RunImport(importOptions); }; });

    AddQueryCommands(app, action);
    UseJapaneseFailureMessages(app);

    if (const std::optional<std::string> unknown = UnknownSubcommand(app, argc, argv)) {
        std::cerr << "yubinbox: 不明なサブコマンドです: " << Printable(*unknown)
                  << "\n使い方は --help で表示されます。" << std::endl;
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? kExitOk : kExitUsage;
    }
    // A writer that finds the database held by another program waits, and says so.
    db::setLockWait(std::chrono::milliseconds(static_cast<long long>(lockWaitSeconds * 1000)));
    db::setWaitReporter([](bool waiting) {
        if (waiting) std::cerr << "yubinbox: " << mdInport::kWaitingForOtherProgram << std::endl;
    });
    try {
        exitCode = action ? action() : kExitUsage;
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

}  // namespace yubin::cli
