#include "import/DataCompleteness.h"

#include "import/mdInport.h"
#include "store/RowRules.h"

namespace yubin::import {

namespace {

const char* IncompleteKey(DataKind kind) {
    return kind == DataKind::Office ? "import.incomplete.office" : "import.incomplete.national";
}

const char* DateColumn(DataKind kind) { return kind == DataKind::Office ? "JIGYOSYO" : "ZIPALL"; }

// The registered date of `kind` emptied, so that other programs do not read it either.
void ForgetRegisteredDate(db::Connection& connection, DataKind kind) {
    db::Recordset rs;
    rs.open("SELECT * FROM 作成日", connection, db::CursorType::Keyset, db::LockType::Pessimistic);
    if (!rs.eof() && !rs.field(DateColumn(kind)).value().isNull()) {
        rs.field(DateColumn(kind)).setValue(db::Value());
        rs.update();
    }
    rs.close();
}

constexpr const char* kIncomplete = TrMark("未完了（取込が途中です）");

}  // namespace

void PrepareToReplace(db::Connection& connection, DataKind kind, const std::string& path) {
    db::setBookkeepingValue(connection, IncompleteKey(kind), path);
    ForgetRegisteredDate(connection, kind);
    connection.flush();
}

void MarkComplete(db::Connection& connection, DataKind kind) {
    db::setBookkeepingValue(connection, IncompleteKey(kind), "");
}

Completeness ReadCompleteness(db::Connection& connection) {
    Completeness c;
    c.nationalIncomplete =
        !db::bookkeepingValue(connection, IncompleteKey(DataKind::National)).empty();
    c.officeIncomplete = !db::bookkeepingValue(connection, IncompleteKey(DataKind::Office)).empty();
    db::Recordset rs;
    rs.open("SELECT * FROM 登録中", connection, db::CursorType::ForwardOnly,
            db::LockType::ReadOnly);
    if (!rs.eof() && !rs.field("RECNO").value().isNull()) {
        c.resumeMarker = rs.field("RECNO").value().toNumber();
    }
    return c;
}

std::string CompletenessSummary(const std::string& nationalStamp, const std::string& officeStamp,
                                const Completeness& c, Translator translate) {
    if (!c.nationalIncomplete && !c.officeIncomplete) {
        return mdInport::SummaryText(nationalStamp, officeStamp, translate);
    }
    std::string text = translate(mdInport::kSummaryHeading);
    const auto line = [&](const char* label, bool incomplete, const std::string& stamp) {
        if (!incomplete && stamp.empty()) return;
        text += std::string("\r\n") + translate(label) +
                (incomplete ? translate(kIncomplete) : mdInport::FormatStamp(stamp, translate));
    };
    line(mdInport::kNationalSummaryLabel, c.nationalIncomplete, nationalStamp);
    line(mdInport::kOfficeSummaryLabel, c.officeIncomplete, officeStamp);
    // How to finish: an interrupted run of that kind goes on where it stopped; otherwise the
    // file is imported again.
    const bool officeResume = c.resumeMarker > mdInport::kOfficeRecNoBase;
    const bool nationalResume = c.resumeMarker > 0 && !officeResume;
    if (c.nationalIncomplete) {
        text += std::string("\r\n") +
                translate(nationalResume
                              ? TrMark("　→ 全国版のファイルを取り込むと、続きから取り込みます。")
                              : TrMark("　→ 全国版のファイルを取り込み直してください。"));
    }
    if (c.officeIncomplete) {
        text +=
            std::string("\r\n") +
            translate(officeResume
                          ? TrMark("　→ 事業所個別版のファイルを取り込むと、続きから取り込みます。")
                          : TrMark("　→ 事業所個別版のファイルを取り込み直してください。"));
    }
    return text;
}

}  // namespace yubin::import
