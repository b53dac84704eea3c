#include "cli/CliChanges.h"

#include <iostream>
#include <memory>
#include <vector>

#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "cli/CliSupport.h"

namespace yubin::cli {

void PrintReportCounts(const std::string& database, const std::string& since, std::ostream& out) {
    auto connection = Connect(database);
    for (changes::DataSet set : {changes::DataSet::National, changes::DataSet::Office}) {
        const auto summary = changes::ReadSummary(*connection, set);
        if (!summary || summary->importedAt < since) continue;
        out << (set == changes::DataSet::National ? "変更報告（全国版）: "
                                                  : "変更報告（事業所個別版）: ")
            << "追加 " << summary->counts.added << "  削除 " << summary->counts.removed << "  変更 "
            << summary->counts.changed << "（一覧は yubinbox changes）" << std::endl;
    }
}

}  // namespace yubin::cli
