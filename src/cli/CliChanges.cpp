#include "cli/CliChanges.h"

#include <iostream>
#include <memory>
#include <vector>

#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "cli/CliSupport.h"

namespace yubin::cli {

void PrintReportCounts(const std::string& database, const std::string& since,
                       const std::array<bool, 2>& imported, std::ostream& out) {
    auto connection = Connect(database);
    for (changes::DataSet set : {changes::DataSet::National, changes::DataSet::Office}) {
        const bool national = set == changes::DataSet::National;
        const char* label = national ? "変更報告（全国版）: " : "変更報告（事業所個別版）: ";
        const auto summary = changes::ReadSummary(*connection, set);
        if (!summary || summary->importedAt < since) {
            if (imported[national ? 0 : 1]) {
                out << label << "この取り込みの変更報告は作成されませんでした" << std::endl;
            }
            continue;
        }
        out << label << "追加 " << summary->counts.added << "  削除 " << summary->counts.removed
            << "  変更 " << summary->counts.changed << "（一覧は yubinbox changes）" << std::endl;
    }
}

}  // namespace yubin::cli
