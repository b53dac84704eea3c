// Row-set sources: the SELECT text or table name of a row set planned into SQLite's text once
// per shape of the text, and the values of its parameters for each opening.
#include <cassert>

#include "store/EngineImpl.h"
#include "store/TextRules.h"

namespace yubin::db {

using detail::BoundValue;
using detail::quoteIdentifier;
using detail::TableDef;

namespace {

void parameterValues(const detail::RowSourcePlan& plan, const std::vector<std::string>& literals,
                     std::vector<Value>& values) {
    values.resize(plan.parameters.size());
    for (size_t i = 0; i < plan.parameters.size(); ++i) {
        const detail::RowSourcePlan::Parameter& p = plan.parameters[i];
        if (p.textLiteral >= 0) {
            // A plan is cached only when its text literals are exactly those of the shape.
            assert(static_cast<size_t>(p.textLiteral) < literals.size());
            values[i].assignText(literals[static_cast<size_t>(p.textLiteral)]);
        } else {
            values[i] = p.number;
        }
    }
}

// "SELECT rowid, "a", ..." for the fields of a plain select, with their table columns and
// names in the plan; the rowid is what lets a row set change its current row.
void planColumnFields(detail::RowSourcePlan& plan, const sql::Select& select) {
    const TableDef& table = *plan.table;
    plan.sql = "SELECT rowid";
    if (select.all) {
        for (size_t i = 0; i < table.columns.size(); ++i) {
            plan.columns.push_back(static_cast<int>(i));
            plan.names.push_back(table.columns[i].name);
        }
    } else {
        for (const sql::SelectItem& item : select.items) {
            const int column = table.requireColumn(item.column);
            plan.columns.push_back(column);
            plan.names.push_back(
                item.alias.empty() ? table.columns[static_cast<size_t>(column)].name : item.alias);
        }
    }
    for (int column : plan.columns) {
        plan.sql += ", " + quoteIdentifier(table.columns[static_cast<size_t>(column)].name);
    }
}

// "SELECT count(*), max("a"), ..." for an aggregate select; a field without an alias is named
// Expr1000, Expr1001, ... by its place, as Jet names it.
void planAggregateFields(detail::RowSourcePlan& plan, const sql::Select& select) {
    const TableDef& table = *plan.table;
    plan.sql = "SELECT ";
    for (size_t k = 0; k < select.items.size(); ++k) {
        const sql::SelectItem& item = select.items[k];
        // The parser refuses a mix of aggregates and columns.
        assert(item.kind != sql::SelectKind::Column);
        if (k > 0) plan.sql += ", ";
        if (item.kind == sql::SelectKind::CountAll) {
            plan.sql += "count(*)";
        } else {
            const int column = table.requireColumn(item.column);
            plan.sql += item.kind == sql::SelectKind::Max ? "max(" : "min(";
            plan.sql += quoteIdentifier(table.columns[static_cast<size_t>(column)].name) + ")";
        }
        plan.names.push_back(item.alias.empty() ? "Expr" + std::to_string(1000 + k) : item.alias);
    }
}

}  // namespace

void Connection::Impl::provideLookupIndexes(const detail::Catalog& current,
                                            const detail::RowSourcePlan& plan) {
    if (plan.lookupIndexesProvided || !importLocked) return;
    for (int column : plan.lookupColumns) provideLookupIndex(current, *plan.table, column);
    plan.lookupIndexesProvided = true;
}

std::shared_ptr<const detail::RowSourcePlan> Connection::Impl::rowSourcePlan(
    std::string_view source, std::vector<Value>& parameters, bool lookups) {
    const std::shared_ptr<const detail::Catalog> current = currentCatalogShared();
    // The lookups of the imports differ only in their literals: one plan serves them all.
    const bool shaped = sql::literalShape(source, shapeScratch, literalScratch);
    if (shaped) {
        auto it = rowSourcePlans.find(shapeScratch);
        if (it != rowSourcePlans.end()) {
            if (lookups) provideLookupIndexes(*current, *it->second);
            parameterValues(*it->second, literalScratch, parameters);
            return it->second;
        }
    }

    sql::Statement statement = sql::parseRowSource(source);
    auto* select = std::get_if<sql::Select>(&statement);
    if (select == nullptr) {
        throw YubinError(
            ErrorCode::InvalidArgument,
            Message("行セットには SELECT 文かテーブル名を指定してください: {1}", source));
    }
    auto plan = std::make_shared<detail::RowSourcePlan>();
    const auto table = current->require(select->table);
    plan->table = table;
    plan->aggregate = select->aggregate();
    if (plan->aggregate) {
        planAggregateFields(*plan, *select);
    } else {
        planColumnFields(*plan, *select);
    }
    std::vector<BoundValue> checked;
    std::vector<std::string> scratch;
    plan->sql += " FROM " + quoteIdentifier(table->name) +
                 detail::translateCondition(*table, select->where, checked, scratch);

    int textLiterals = 0;
    parameters.clear();
    for (const sql::Comparison& comparison : select->where) {
        detail::RowSourcePlan::Parameter p;
        p.column = table->requireColumn(comparison.column);
        if (comparison.literal.isText()) {
            p.textLiteral = textLiterals++;
        } else {
            p.number = comparison.literal;
        }
        plan->parameters.push_back(std::move(p));
        parameters.push_back(comparison.literal);
        if (!comparison.notEqual && !plan->aggregate) {
            plan->lookupColumns.push_back(plan->parameters.back().column);
        }
    }
    // One parameter per comparison, in the order of the ?s that translateCondition wrote.
    assert(plan->parameters.size() == checked.size());
    if (lookups) provideLookupIndexes(*current, *plan);
    if (shaped && static_cast<size_t>(textLiterals) == literalScratch.size()) {
        if (rowSourcePlans.size() >= 64) rowSourcePlans.clear();
        rowSourcePlans.emplace(shapeScratch, plan);
    }
    return plan;
}

}  // namespace yubin::db
