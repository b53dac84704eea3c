#include "query/Summary.h"

#include <algorithm>
#include <chrono>

namespace yubin::query {

namespace {

using db::CursorType;
using db::LockType;
using db::Recordset;

long long CountRows(db::Connection& connection, const std::string& tableAndCondition) {
    Recordset rs;
    rs.open("SELECT COUNT(*) As DCOUNT FROM " + tableAndCondition, connection,
            CursorType::ForwardOnly, LockType::ReadOnly);
    return rs.field("DCOUNT").value().toNumber();
}

}  // namespace

SummaryFacts ReadSummaryFacts(db::Connection& connection) {
    SummaryFacts facts;
    {
        Recordset rs;
        rs.open("SELECT * FROM 作成日", connection, CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof()) {
            facts.nationalStamp = rs.field("ZIPALL").value().toText();
            facts.officeStamp = rs.field("JIGYOSYO").value().toText();
        }
    }
    facts.nationalRows = CountRows(connection, "ZIPALL WHERE データ識別 <> '1'");
    facts.officeRows = CountRows(connection, "ZIPALL WHERE データ識別 = '1'");
    facts.prefectures = CountRows(connection, "都道府県");
    facts.municipalities = CountRows(connection, "市町村");
    facts.placeholderMunicipalities = CountRows(connection, "市町村 WHERE 抹消FLAG = 1");
    {
        Recordset rs;
        rs.open("SELECT * FROM 登録中", connection, CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof() && !rs.field("RECNO").value().isNull()) {
            facts.resumeMarker = rs.field("RECNO").value().toNumber();
        }
    }
    const std::vector<db::KeyInfo> keys = connection.keys();
    for (KeyPresence wanted :
         {KeyPresence{"x_郵便番号", "postal_code"}, KeyPresence{"xRECNO", "recno"},
          KeyPresence{"xJISX0401", "jisx0401"}, KeyPresence{"xJISX0402", "jisx0402"}}) {
        wanted.present = std::any_of(keys.begin(), keys.end(), [&](const db::KeyInfo& key) {
            return key.name == wanted.index;
        });
        facts.keys.push_back(wanted);
    }
    return facts;
}

std::string IsoDate(const std::string& stamp) {
    if (stamp.size() != 8 || stamp.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    const std::chrono::year_month_day date{std::chrono::year(std::stoi(stamp.substr(0, 4))),
                                           std::chrono::month(std::stoul(stamp.substr(4, 2))),
                                           std::chrono::day(std::stoul(stamp.substr(6, 2)))};
    if (!date.ok()) return {};
    return stamp.substr(0, 4) + '-' + stamp.substr(4, 2) + '-' + stamp.substr(6, 2);
}

}  // namespace yubin::query
