// yubinbox publish [--db FILE] [--to CONNINFO] [--schema NAME] [--reader-role ROLE]...: the
// tables of the database file into a PostgreSQL schema, replaced whole (src/publish).
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/commands/Publish.h"
#include "publish/Publisher.h"

namespace yubin::cli {

namespace {

// YUBIN_PUBLISH_PAUSE_AT=<step> or <step>:<table> (publish::stepName's names) makes the publish
// say "paused at ..." on standard error and wait there until a signal ends it, so that the tests
// can kill it at each step.
void PauseIfAsked(publish::PublishStep step, std::string_view table) {
    const char* at = std::getenv("YUBIN_PUBLISH_PAUSE_AT");
    if (at == nullptr) return;
    const std::string name = publish::stepName(step);
    if (at != name && at != name + ":" + std::string(table)) return;
    std::cerr << "yubinbox: paused at " << at << std::endl;
    for (;;) pause();
}

void Observe(publish::PublishStep step, std::string_view table) {
    if (step == publish::PublishStep::Waiting) {
        std::cerr << "yubinbox: " << Tr("同じスキーマへの別の公開が終わるのを待っています…")
                  << std::endl;
    }
    PauseIfAsked(step, table);
}

}  // namespace

void AddPublishTargetOptions(CLI::App& command, PublishTarget& target) {
    target.schema = publish::kDefaultSchema;
    command.add_option("--schema", target.schema, Tr("公開先のスキーマ（既定 yubinbox）"));
    command.add_option("--reader-role", target.readerRoles, Tr("読み取りを許すロール（複数可）"));
}

int PublishExitCode(const YubinError& error) {
    switch (error.code()) {
        case ErrorCode::PublishConnectionString:
            return kExitUsage;
        case ErrorCode::PublishLoginRefused:
            return kExitLoginRefused;
        case ErrorCode::PublishUnreachable:
            return kExitUnreachable;
        case ErrorCode::PublishNoRights:
            return kExitNoRights;
        case ErrorCode::PublishBusy:
        case ErrorCode::PublishUnfinishedImport:
        case ErrorCode::PublishForeignSchema:
        case ErrorCode::LockedByOtherUser:
            return kExitRefused;
        default:
            return kExitFailure;
    }
}

int PublishDatabase(const std::string& database, const PublishTarget& target) {
    try {
        auto connection = Connect(database);
        publish::PublishOptions options;
        options.conninfo = target.conninfo;
        options.schema = target.schema;
        options.readerRoles = target.readerRoles;
        options.lockWait = db::lockWait();
        const publish::PublishReport report =
            publish::publishDatabase(*connection, options, Observe);
        std::cout << Format(Tr("PostgreSQL のスキーマ {1} に公開しました"), report.schema) << '\n';
        for (const publish::PublishedTable& table : report.tables) {
            std::cout << table.name << '\t' << table.rows << '\n';
        }
        std::cout.flush();
        return kExitOk;
    } catch (const YubinError& error) {
        PrintError(error);
        return PublishExitCode(error);
    }
}

CommandRun SetupPublish(CLI::App& command) {
    auto database = std::make_shared<std::string>();
    auto target = std::make_shared<PublishTarget>();
    command.add_option("--db", *database,
                       Tr("データベースファイル（省略時は設定ファイルの path）"));
    command.add_option("--to", target->conninfo, Tr("libpq の接続文字列（省略時は PG* 環境変数）"));
    AddPublishTargetOptions(command, *target);
    return [database, target] {
        return PublishDatabase(DatabaseFromOptionOrSettings(*database), *target);
    };
}

}  // namespace yubin::cli
