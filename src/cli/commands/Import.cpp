// yubinbox import [--db FILE] [--ken-all FILE] [--jigyosyo FILE] [--yes] [--pause S]: the import
// window's run through the same import session, its questions answered with y/N or --yes.
#include <unistd.h>

#include <array>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "base/Error.h"
#include "base/Message.h"
#include "changes/ChangeReport.h"
#include "cli/CliChanges.h"
#include "cli/CliImportView.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/SafeText.h"
#include "cli/commands/Publish.h"
#include "import/Administration.h"
#include "import/ChosenFile.h"
#include "import/DataFile.h"
#include "import/ImportSession.h"
#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

namespace {

struct ImportOptions {
    std::string database;
    std::string nationalFile;
    std::string officeFile;
    bool yes = false;
    double pauseSeconds = 0;
};

constexpr std::array<import::DataKind, 2> kKinds = {import::DataKind::National,
                                                    import::DataKind::Office};

// The database: --db, or the settings file under the main menu's rules. An exit code when the
// import may not go on.
std::optional<int> ChooseDatabase(const ImportOptions& options) {
    if (!options.database.empty()) {
        mdlYubinBox::strMdbFile = Absolute(options.database);
        RequireExistingDatabase(mdlYubinBox::strMdbFile);
        return std::nullopt;
    }
    try {
        administration::PrepareImportFromSettings();
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::PermissionDenied) throw;
        std::cerr << error.translatedDescription() << std::endl;
        return kExitRefused;
    }
    return std::nullopt;
}

// The exit code of a run that did not end as it should, or nothing when the run finished.
std::optional<int> ExitOfUnfinishedRun(const import::RunOutcome& run) {
    switch (run.result) {
        case import::RunResult::Declined:
            return kExitRefused;
        case import::RunResult::Aborted:
            std::cerr << Tr(kAbortedMessage) << std::endl;
            return kExitAborted;
        case import::RunResult::Failed:
            if (run.error->code() == ErrorCode::LockedByOtherUser) {
                std::cerr << run.error->translatedDescription() << std::endl;
                return kExitRefused;
            }
            throw *run.error;
        default:
            return std::nullopt;
    }
}

// 終了: the marker cleared and, after the run, the database compacted. The data is complete by
// then: a compaction refused because another program holds the file is said as such, with its
// exit code.
std::optional<int> Exit(import::ImportSession& session) {
    try {
        session.exit(import::ExitReason::User);
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::FileInUse) throw;
        std::cerr << Format(Tr("取り込みは完了しています（データはすべて登録されました）。"
                               "他のプログラムがデータベースを使用中のため、最適化だけが行われて"
                               "いません。後で yubinbox compact {1} を実行してください。\n（{2}）"),
                            Printable(mdlYubinBox::strMdbFile),
                            Printable(error.translatedDescription()))
                  << std::endl;
        return kExitCompactionPending;
    }
    return std::nullopt;
}

int RunImport(const ImportOptions& options) {
    if (const std::optional<int> refused = ChooseDatabase(options)) return *refused;
    mdFileCreate::SetIniFilePath();
    const std::array<std::string, 2> files = {
        options.nationalFile.empty() ? "" : Absolute(options.nationalFile),
        options.officeFile.empty() ? "" : Absolute(options.officeFile)};
    if (files[0].empty() && files[1].empty()) {
        std::cerr << Tr(import::ImportSession::kNothingChosen) << "（--ken-all / --jigyosyo）"
                  << std::endl;
        return kExitUsage;
    }
    for (size_t i = 0; i < 2; ++i) {
        if (!files[i].empty()) import::CheckDataFile(files[i], kKinds[i]);
    }

    // Loading, as the import window does it.
    CliImportView view(isatty(STDERR_FILENO) != 0, options.yes);
    import::ImportSession session(view);
    view.attach(session);
    std::cout << Format(Tr("データベース: {1}"), mdlYubinBox::strMdbFile) << std::endl;
    session.load();
    session.environment().pauseSeconds = options.pauseSeconds;
    if (!view.summary().empty()) std::cout << ForTerminal(view.summary()) << std::endl;
    if (!session.browseEnabled(0) && !files[0].empty()) {
        std::cerr
            << Tr("事業所個別郵便番号データの取り込みが途中で中止されています。"
                  "全国版郵便番号データは選択できません（--jigyosyo だけで継続してください）。")
            << std::endl;
        return kExitRefused;
    }

    // The files given stand for the chooser's results.
    for (int i = 0; i < 2; ++i) {
        if (files[i].empty()) continue;
        session.browse(i);
        session.browseResult(i, import::ChosenDataFile(files[i], kKinds[i]));
    }

    // 実行. From here Ctrl-C and SIGTERM abort an engine; outside the engines they wait until
    // the step at hand (the index, the compaction) has finished and then end as 終了 does.
    AbortSignalScope signals;
    const std::string runStarted = changes::LocalTimestamp();
    const import::RunOutcome run = session.run();
    if (const std::optional<int> unfinished = ExitOfUnfinishedRun(run)) return *unfinished;
    if (!view.summary().empty()) std::cout << ForTerminal(view.summary()) << std::endl;
    PrintReportCounts(mdlYubinBox::strMdbFile, runStarted, run.imported, std::cout);
    if (g_abortRequested)
        std::cerr << Tr("取り込みは終了しています。終了処理を行います。") << std::endl;

    const std::optional<int> compactionPending = Exit(session);
    if (compactionPending) return *compactionPending;
    return run.officeRefused ? kExitNeedsNational : kExitOk;
}

}  // namespace

CommandRun SetupImport(CLI::App& command) {
    auto options = std::make_shared<ImportOptions>();
    command.add_option("--db", options->database,
                       Tr("データベースファイル（省略時は設定ファイルの path）"));
    command.add_option("--ken-all", options->nationalFile, Tr("全国版郵便番号データのファイル"));
    command.add_option("--jigyosyo", options->officeFile, Tr("事業所個別郵便番号データのファイル"));
    command.add_flag("--yes", options->yes, Tr("新しい登録データを確認なしで置き換える"));
    command.add_option("--pause", options->pauseSeconds, Tr("終了時の待ち時間（秒）"))
        ->check(CLI::NonNegativeNumber.description(""));
    // The monthly job in one command: after a successful import, the database is published.
    auto target = std::make_shared<PublishTarget>();
    CLI::Option* publish =
        command.add_option("--publish", target->conninfo,
                           Tr("取り込みの後で PostgreSQL に公開（libpq の接続文字列）"));
    AddPublishTargetOptions(command, *target);
    return [options, target, publish] {
        // A complete import whose compaction waits for another program is published too.
        const int imported = RunImport(*options);
        const bool complete = imported == kExitOk || imported == kExitCompactionPending;
        if (!complete || publish->count() == 0) return imported;
        const int published = PublishDatabase(mdlYubinBox::strMdbFile, *target);
        return published != kExitOk ? published : imported;
    };
}

}  // namespace yubin::cli
