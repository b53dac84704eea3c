#include "store/RowRules.h"

#include "store/EngineImpl.h"

namespace yubin::db {

using detail::StatementPtr;

struct RowRules::Impl {
    std::shared_ptr<const detail::TableDef> table;
    std::vector<int> columns;     // by position of the names; -1 for a name the table lacks
    mutable std::string scratch;  // bindable's converted text
};

RowRules::RowRules(Connection& connection, std::string_view table,
                   std::span<const std::string> names)
    : impl_(std::make_unique<Impl>()) {
    Connection::Impl& m = connection.impl();
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    impl_->table = m.currentCatalog().require(table);
    impl_->columns.reserve(names.size());
    for (const std::string& name : names) impl_->columns.push_back(impl_->table->findColumn(name));
}

RowRules::~RowRules() = default;

void RowRules::check(std::size_t position, const Value& value) const {
    const int column = position < impl_->columns.size() ? impl_->columns[position] : -1;
    if (column < 0) return;
    detail::bindable(*impl_->table, column, value, impl_->scratch);
}

namespace {

constexpr const char* kReservedInfoKeys[] = {"format"};

void RequireOwnKey(std::string_view key) {
    for (const char* reserved : kReservedInfoKeys) {
        if (key == reserved) {
            throw YubinError(ErrorCode::InvalidArgument,
                             Message("キー {1} は変更できません。", key));
        }
    }
}

}  // namespace

std::string bookkeepingValue(Connection& connection, std::string_view key) {
    Connection::Impl& m = connection.impl();
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    StatementPtr s =
        detail::prepare(m.db.get(), "SELECT value FROM \"__yubinbox_info\" WHERE key = ?");
    sqlite3_bind_text(s.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE) return {};
    if (rc != SQLITE_ROW)
        detail::throwSqlite(m.db.get(), rc, Message("データベースの管理情報を読めません。"));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0));
    return text == nullptr
               ? std::string()
               : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
}

void setBookkeepingValue(Connection& connection, std::string_view key, std::string_view value) {
    RequireOwnKey(key);
    Connection::Impl& m = connection.impl();
    std::lock_guard lock(m.mutex);
    m.requireOpen();
    m.commitBatch();
    StatementPtr s = detail::prepare(
        m.db.get(), value.empty() ? "DELETE FROM \"__yubinbox_info\" WHERE key = ?1"
                                  : "INSERT OR REPLACE INTO \"__yubinbox_info\" VALUES (?1, ?2)");
    sqlite3_bind_text(s.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    if (!value.empty()) {
        sqlite3_bind_text(s.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    }
    detail::runPrepared(m.db.get(), s.get(), "データベースの管理情報を書き込めません。");
}

}  // namespace yubin::db
