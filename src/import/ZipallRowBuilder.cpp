// One ZIPALL row at a time for the engines, and the change report's view of each.
#include <string>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "import/EngineSupport.h"

namespace yubin::mdInport::detail {

namespace {

constexpr std::array<const char*, kZipallColumnCount> kZipallColumnNames = {
    "団体コード", "旧郵便番号", "郵便番号", "住所かな3",  "町域名",     "flag1",
    "flag2",      "flag3",      "ダブり",   "flag4",      "flag5",      "事業所名かな",
    "事業所名",   "取扱郵便局", "種別",     "丁目番地等", "データ識別", "RECNO"};

}  // namespace

ZipallRowBuilder::ZipallRowBuilder(db::Recordset& table) : table_(table) {
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(table.fieldCount()));
    for (int i = 0; i < table.fieldCount(); ++i) names.push_back(table.field(i).Name());
    names_ = std::make_shared<const std::vector<std::string>>(std::move(names));
    // Every value the empty text until it is set.
    values_ = &table_.keepAppendValues(names_);
    for (size_t i = 0; i < names_->size(); ++i) values_->setText(i, "");
    for (size_t c = 0; c < kZipallColumnNames.size(); ++c) {
        position_[c] = kAbsent;
        for (size_t i = 0; i < names_->size(); ++i) {
            if (EqualsIgnoringAsciiCase((*names_)[i], kZipallColumnNames[c])) {
                position_[c] = i;
                break;
            }
        }
    }
}

bool ZipallRowBuilder::addAppendedTo(changes::AppendedRows& rows,
                                     const std::vector<db::ColumnInfo>& columns) {
    // A text column's position in the values; kAbsent for a column of numbers (which would
    // store the text's number, read back otherwise) or one the table lacks.
    const auto textColumn = [&](std::string_view name) {
        for (size_t i = 0; i < names_->size() && i < columns.size(); ++i) {
            if (!EqualsIgnoringAsciiCase((*names_)[i], name)) continue;
            const db::ColumnKind kind = columns[i].kind;
            return kind == db::ColumnKind::Text || kind == db::ColumnKind::Memo ? i : kAbsent;
        }
        return kAbsent;
    };
    if (textColumn(kZipallColumnNames[static_cast<size_t>(ZipallColumn::DataKind)]) == kAbsent) {
        return false;
    }
    for (size_t c = 0; c < appendedPosition_.size(); ++c) {
        appendedPosition_[c] = textColumn(changes::AppendedRows::Columns()[c]);
        if (appendedPosition_[c] == kAbsent) return false;
    }
    appended_ = &rows;
    return true;
}

void ZipallRowBuilder::addAppended() {
    changes::AppendedRows::Texts texts;
    for (size_t c = 0; c < texts.size(); ++c) {
        // As a text column stores the value: a number as its decimal text, Null read back as
        // the empty text.
        const db::Value& value = (*values_)[appendedPosition_[c]];
        if (value.isText()) {
            texts[c] = value.text();
        } else if (value.isNumber()) {
            texts[c] = numberTexts_[c] = std::to_string(value.number());
        }
    }
    appended_->add(texts, table_.rowid());
}

}  // namespace yubin::mdInport::detail
