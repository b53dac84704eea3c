#include "app/cli/Cli.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/cli/CliImportView.h"
#include "import/Administration.h"
#include "import/DataFile.h"
#include "import/ImportSession.h"
#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "store/Engine.h"
#include "store/Error.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace fs = std::filesystem;

namespace {

// Exit codes; listed in the README and in --help.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;        // an error: its number and description are printed
constexpr int kExitUsage = 2;          // the arguments are wrong
constexpr int kExitRefused = 3;        // not allowed, or the user declined (nothing was changed)
constexpr int kExitNeedsNational = 4;  // business-office data needs the national data first
constexpr int kExitAborted = 130;      // an import was aborted; the next run continues it

const char* const kExitCodesHelp =
    "Exit codes: 0 success; 1 error (number and description printed); 2 wrong arguments;\n"
    "3 refused (no permission, older data declined, another import running on the database,\n"
    "national file during a business-office resume); 4 business-office data needs the national "
    "data first; 130 import aborted\n"
    "(Ctrl-C or SIGTERM; the next import continues where it stopped).";

void PrintError(const YubinError& error) {
    std::cerr << "yubinbox: エラー " << error.number() << ": " << error.description() << std::endl;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? path : absolute.lexically_normal().string();
}

// Text for a terminal: the windows' CR LF line ends become LF.
std::string ForTerminal(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

void RequireExistingFile(const std::string& path) {
    if (!fs::is_regular_file(path)) {
        throw YubinError(ErrorCode::FileNotFound, "ファイル " + path + " がありません。");
    }
}

// The database of a reading command: --db, or else the settings file's path.
std::string DatabaseFromOptionOrSettings(const std::string& option) {
    if (!option.empty()) return option;
    mdFileCreate::SetIniFilePath();
    std::string path = mdFileCreate::ReadKey("path");
    if (path.empty()) {
        throw YubinError(ErrorCode::FileNotFound,
                         "設定ファイル " + mdFileCreate::strIniFile + " に path がありません。");
    }
    return path;
}

std::unique_ptr<db::Connection> Connect(const std::string& path) {
    RequireExistingFile(path);
    auto connection = std::make_unique<db::Connection>();
    connection->open(mdlYubinBox::ConnectionString(path));
    return connection;
}

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
    std::string word = statement.substr(i, 6);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word == "select";
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

int RunSummary(const std::string& option) {
    const std::string database = DatabaseFromOptionOrSettings(option);
    auto connection = Connect(database);
    db::Recordset rs;
    rs.open("SELECT * FROM 作成日", *connection, db::CursorType::ForwardOnly,
            db::LockType::ReadOnly);
    std::string text;
    if (!rs.eof()) {
        text = mdInport::SummaryText(rs.field("ZIPALL").value().toText(),
                                     rs.field("JIGYOSYO").value().toText());
    }
    std::cout << (text.empty() ? "登録されている郵便番号データはありません。" : ForTerminal(text))
              << std::endl;
    return kExitOk;
}

// The first row's value of a lookup, or "".
std::string LookupName(db::Connection& connection, const std::string& sql, const char* column) {
    db::Recordset rs;
    rs.open(sql, connection, db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    return rs.eof() ? std::string() : rs.field(column).value().toText();
}

int RunLookup(std::string code, const std::string& option) {
    if (code.size() == 8 && code[3] == '-') code.erase(3, 1);
    if (code.size() != 7 || code.find_first_not_of("0123456789") != std::string::npos) {
        std::cerr << "yubinbox: 郵便番号は 7 桁の数字で指定してください（例: 100-0001）。"
                  << std::endl;
        return kExitUsage;
    }
    const std::string database = DatabaseFromOptionOrSettings(option);
    auto connection = Connect(database);
    db::Recordset rs;
    rs.open("SELECT * FROM ZIPALL WHERE 郵便番号 = '" + code + "'", *connection,
            db::CursorType::ForwardOnly, db::LockType::ReadOnly);
    std::cout << "郵便番号\t区分\t都道府県名\t市町村名\t町域名\t丁目番地等\t事業所名\t取扱郵便局\n";
    int found = 0;
    for (; !rs.eof(); rs.moveNext(), ++found) {
        const std::string city = rs.field("団体コード").value().toText();
        const std::string pref = city.substr(0, 2);
        const bool office = rs.field("データ識別").value().toText() == "1";
        std::cout << rs.field("郵便番号").value().toText() << '\t' << (office ? "事業所" : "全国")
                  << '\t'
                  << LookupName(
                         *connection,
                         "SELECT * FROM 都道府県 WHERE JISX0401= " + mdInport::QuoteLiteral(pref),
                         "都道府県名")
                  << '\t'
                  << LookupName(
                         *connection,
                         "SELECT * FROM 市町村 WHERE JISX0402 = " + mdInport::QuoteLiteral(city),
                         "市町村名")
                  << '\t' << rs.field("町域名").value().toText() << '\t'
                  << rs.field("丁目番地等").value().toText() << '\t'
                  << rs.field("事業所名").value().toText() << '\t'
                  << rs.field("取扱郵便局").value().toText() << '\n';
    }
    if (found == 0) {
        std::cerr << "該当する郵便番号はありません。" << std::endl;
        return kExitFailure;
    }
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
    for (const std::string& file : files) {
        if (!file.empty()) RequireExistingFile(file);
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
        mdInport::strSelFileDate = mdInport::FormatStamp(import::DataFileStamp(files[i]));
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

    // 終了: the marker cleared and, after the run, the database compacted.
    session.exit(import::ExitReason::User);
    return run.officeRefused ? kExitNeedsNational : kExitOk;
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    CLI::App app{"yubinbox: 郵便番号データベースの作成と取り込み (postal-code database tool)"};
    app.footer(kExitCodesHelp);
    app.require_subcommand(1);

    std::string file, folder, statement, code, dbOption;
    bool force = false, all = false;
    ImportOptions importOptions;
    double lockWaitSeconds = 30;
    int exitCode = kExitOk;
    app.add_option("--lock-wait", lockWaitSeconds,
                   "seconds to wait for another program that holds the database (default 30)")
        ->check(CLI::NonNegativeNumber);

    std::function<int()> action;

    auto* createdb = app.add_subcommand("createdb", "Create an empty database FILE");
    createdb->add_option("FILE", file, "database file")->required();
    createdb->add_flag("--force", force, "replace an existing file");
    createdb->callback([&] { action = [&] { return RunCreateDb(file, force); }; });

    auto* sql = app.add_subcommand("sql", "Run one SQL statement on FILE");
    sql->add_option("FILE", file, "database file")->required();
    sql->add_option("STATEMENT", statement, "the statement")->required();
    sql->callback([&] { action = [&] { return RunSql(file, statement); }; });

    auto* compact = app.add_subcommand("compact", "Compact the database FILE in place");
    compact->add_option("FILE", file, "database file")->required();
    compact->callback([&] {
        action = [&] {
            RequireExistingFile(file);
            mdlYubinBox::CompactMdb(file);
            return kExitOk;
        };
    });

    auto* tables = app.add_subcommand("tables", "List the tables of FILE");
    tables->add_option("FILE", file, "database file")->required();
    tables->add_flag("--all", all, "also the hidden tables");
    tables->callback([&] { action = [&] { return RunTables(file, all); }; });

    auto* use = app.add_subcommand("use", "Point the settings file at an existing database");
    use->add_option("DBFILE", file, "database file")->required();
    use->callback([&] { action = [&] { return RunUse(file); }; });

    auto* settings = app.add_subcommand("settings", "Show the settings file and its keys");
    settings->callback([&] { action = [] { return RunSettings(); }; });

    auto* drives = app.add_subcommand("drives", "List the places a database may be created");
    drives->callback([&] { action = [] { return RunDrives(); }; });

    auto* newdb = app.add_subcommand(
        "newdb", "Create yubinbox.mdb in FOLDER (the old one kept as a dated backup)");
    newdb->add_option("FOLDER", folder, "folder")->required();
    newdb->callback([&] { action = [&] { return RunNewDb(folder); }; });

    auto* importCommand = app.add_subcommand("import", "Import ken_all.csv and/or jigyosyo.csv");
    importCommand->add_option("--db", importOptions.database,
                              "database file (default: settings path)");
    importCommand->add_option("--ken-all", importOptions.nationalFile, "national data file");
    importCommand->add_option("--jigyosyo", importOptions.officeFile, "business-office data file");
    importCommand->add_flag("--yes", importOptions.yes,
                            "replace newer registered data without asking");
    importCommand->add_option("--pause", importOptions.pauseSeconds, "closing pause in seconds")
        ->check(CLI::NonNegativeNumber);
    importCommand->callback([&] { action = [&] { return RunImport(importOptions); }; });

    auto* summary = app.add_subcommand("summary", "Show the dates of the registered data");
    summary->add_option("--db", dbOption, "database file (default: settings path)");
    summary->callback([&] { action = [&] { return RunSummary(dbOption); }; });

    auto* lookup = app.add_subcommand("lookup", "Show every row of a postal code");
    lookup->add_option("CODE", code, "seven digits, a hyphen allowed (100-0001)")->required();
    lookup->add_option("--db", dbOption, "database file (default: settings path)");
    lookup->callback([&] { action = [&] { return RunLookup(code, dbOption); }; });

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
