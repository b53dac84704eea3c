#include "cli/CliChanges.h"

#include <iostream>
#include <memory>
#include <vector>

#include "base/Message.h"
#include "changes/ChangePrint.h"
#include "changes/ChangeReport.h"
#include "cli/CliSupport.h"

namespace yubin::cli {

void PrintReportCounts(const std::string& database, const std::string& since,
                       const std::array<bool, 2>& imported, std::ostream& out) {
    auto connection = Connect(database);
    for (changes::DataSet set : {changes::DataSet::National, changes::DataSet::Office}) {
        const bool national = set == changes::DataSet::National;
        const char* label =
            national ? Tr("変更報告（全国版）: ") : Tr("変更報告（事業所個別版）: ");
        const auto summary = changes::ReadSummary(*connection, set);
        if (!summary || summary->importedAt < since) {
            if (imported[national ? 0 : 1]) {
                out << label << Tr("この取り込みの変更報告は作成されませんでした") << std::endl;
            }
            continue;
        }
        out << label
            << Format(Tr("追加 {1}  削除 {2}  変更 {3}（一覧は yubinbox changes）"),
                      summary->counts.added, summary->counts.removed, summary->counts.changed)
            << std::endl;
    }
}

}  // namespace yubin::cli
