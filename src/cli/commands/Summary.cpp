// yubinbox summary [--db FILE] [--format text|json]: the registered dates and counts, a pending
// resume and a run that did not finish.
#include <iostream>
#include <memory>
#include <string>

#include "base/Message.h"
#include "cli/CliSupport.h"
#include "cli/Command.h"
#include "cli/QueryOptions.h"
#include "cli/RowOutput.h"
#include "import/DataCompleteness.h"
#include "import/mdInport.h"
#include "query/Summary.h"

namespace yubin::cli {

namespace {

// What the summary reports: the query library's facts and the import's record of data a run
// left unfinished.
struct SummaryFacts : query::SummaryFacts {
    import::Completeness completeness;
};

struct SummaryOptions {
    std::string database;
    std::string format = "text";
};

bool OfficeResume(const SummaryFacts& facts) {
    return facts.resumeMarker >= mdInport::kOfficeRecNoBase;
}

std::string JsonDate(const std::string& stamp) {
    if (stamp.empty()) return "null";
    const std::string iso = query::IsoDate(stamp);
    return "{\"stamp\":" + JsonString(stamp) +
           ",\"date\":" + (iso.empty() ? "null" : JsonString(iso)) + '}';
}

std::string SummaryJson(const SummaryFacts& facts) {
    std::string json = "{\"registered\":{\"national\":" + JsonDate(facts.nationalStamp) +
                       ",\"office\":" + JsonDate(facts.officeStamp) + '}';
    json += ",\"counts\":{\"national\":" + std::to_string(facts.nationalRows) +
            ",\"office\":" + std::to_string(facts.officeRows) +
            ",\"prefectures\":" + std::to_string(facts.prefectures) +
            ",\"municipalities\":" + std::to_string(facts.municipalities) +
            ",\"placeholderMunicipalities\":" + std::to_string(facts.placeholderMunicipalities) +
            '}';
    json += ",\"resume\":{\"pending\":";
    if (facts.resumePending()) {
        json += std::string("true,\"kind\":") +
                (OfficeResume(facts) ? "\"office\"" : "\"national\"") +
                ",\"marker\":" + std::to_string(facts.resumeMarker) + '}';
    } else {
        json += "false,\"kind\":null,\"marker\":null}";
    }
    json += ",\"keys\":{";
    for (size_t i = 0; i < facts.keys.size(); ++i) {
        json += std::string(i ? "," : "") + JsonString(facts.keys[i].stableName) + ':' +
                (facts.keys[i].present ? "true" : "false");
    }
    // Whether the data of each kind is all there (false: a run replacing it did not finish).
    json += std::string("},\"complete\":{\"national\":") +
            (facts.completeness.nationalIncomplete ? "false" : "true") +
            ",\"office\":" + (facts.completeness.officeIncomplete ? "false" : "true");
    return json + "}}";
}

std::string SummaryText(const SummaryFacts& facts) {
    std::string text = ForTerminal(import::CompletenessSummary(
        facts.nationalStamp, facts.officeStamp, facts.completeness, Translated));
    if (text.empty()) text = Tr("登録されている郵便番号データはありません。");
    if (facts.resumePending()) {
        text += '\n';
        text += OfficeResume(facts) ? Tr("事業所個別郵便番号データの取り込みが途中で中止されてい"
                                         "ます。次の取り込みで続きから取り込みます。")
                                    : Tr("全国版郵便番号データの取り込みが途中で中止されています。"
                                         "次の取り込みで続きから取り込みます。");
    } else if (!facts.keys.empty() && !(facts.keys[0].present && facts.keys[1].present) &&
               facts.nationalRows + facts.officeRows > 0) {
        // No marker, yet the run's index is missing: a run that ended by an error or a kill.
        text += '\n';
        text += Tr("郵便番号の索引がありません。最後の取り込みは完了していません。");
    }
    return text;
}

int RunSummary(const SummaryOptions& options) {
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    SummaryFacts facts{query::ReadSummaryFacts(*connection), {}};
    facts.completeness = import::ReadCompleteness(*connection);
    std::cout << (options.format == "json" ? SummaryJson(facts) : SummaryText(facts)) << std::endl;
    return kExitOk;
}

}  // namespace

CommandRun SetupSummary(CLI::App& command) {
    auto options = std::make_shared<SummaryOptions>();
    AddDatabaseOption(command, options->database);
    AddFormatOption(command, options->format, Tr("text（既定）または json"), {"text", "json"});
    return [options] { return RunSummary(*options); };
}

}  // namespace yubin::cli
