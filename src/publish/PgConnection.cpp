#include "publish/PgConnection.h"
#include "publish/LibPq.h"

#include <cstdlib>
#include <optional>

namespace yubin::publish {

namespace {

// libpq's messages end in a line break; the description is one line.
std::string Trimmed(const char* text) {
    std::string out = text != nullptr ? text : "";
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    for (char& c : out) {
        if (c == '\n') c = ' ';
    }
    return out;
}

struct ConninfoOptionsDeleter {
    void operator()(PQconninfoOption* options) const { Pq().PQconninfoFree(options); }
};

void CheckConninfo(const std::string& conninfo) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, ConninfoOptionsDeleter> options(
        Pq().PQconninfoParse(conninfo.c_str(), &error));
    if (options) return;
    const std::string reason = Trimmed(error);
    Pq().PQfreemem(error);
    throw YubinError(ErrorCode::PublishConnectionString,
                     Message("PostgreSQL の接続文字列を読めません: {1}", reason));
}

}  // namespace

YubinError serverError(std::string_view sqlState, const std::string& what,
                       const std::string& serverMessage) {
    ErrorCode code = ErrorCode::PublishServerFault;
    const char* reason = "";
    if (sqlState == "42501") {
        code = ErrorCode::PublishNoRights;
        reason = TrMark("権限がありません。");
    } else if (sqlState.substr(0, 2) == "28") {
        code = ErrorCode::PublishLoginRefused;
        reason = TrMark("サーバーがログインを拒否しました。");
    } else if (sqlState == "55P03") {
        code = ErrorCode::PublishBusy;
        reason = TrMark("ロックを待ちきれませんでした。");
    } else if (sqlState == "40P01") {
        // Another session and this one waited for each other's locks; the server cancelled
        // this side. Like a lock not granted in time, the work may be tried again.
        code = ErrorCode::PublishBusy;
        reason = TrMark("別の接続とロックを待ち合ったため取り消されました（デッドロック）。");
    }
    return YubinError(code,
                      Message("{1}{2} PostgreSQL: {3}", what, Message(reason), serverMessage));
}

PgConnection::PgConnection(const std::string& conninfo) {
    CheckConninfo(conninfo);
    // Our defaults come before the connection string, which overrides them; the environment
    // variables of the same settings are left to rule when they are set.
    std::vector<const char*> keys;
    std::vector<const char*> values;
    if (std::getenv("PGCONNECT_TIMEOUT") == nullptr) {
        keys.push_back("connect_timeout");
        values.push_back("30");
    }
    if (std::getenv("PGAPPNAME") == nullptr) {
        keys.push_back("application_name");
        values.push_back("yubinbox publish");
    }
    keys.push_back("dbname");
    values.push_back(conninfo.c_str());
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_.reset(Pq().PQconnectdbParams(keys.data(), values.data(), 1));
    if (!conn_) {
        throw YubinError(ErrorCode::PublishServerFault, Message("libpq のメモリが足りません。"));
    }
    if (Pq().PQstatus(conn_.get()) != CONNECTION_OK) {
        const std::string message = Trimmed(Pq().PQerrorMessage(conn_.get()));
        // Whether any server answered is libpq's own verdict, independent of the message.
        const PGPing ping = Pq().PQping(conninfo.c_str());
        if (ping == PQPING_NO_RESPONSE) {
            throw YubinError(ErrorCode::PublishUnreachable,
                             Message("PostgreSQL サーバーに接続できません（サーバーが応答しませ"
                                     "ん）。 PostgreSQL: {1}",
                                     message));
        }
        throw YubinError(ErrorCode::PublishLoginRefused,
                         Message("PostgreSQL サーバーがログインを拒否しました（パスワード、ユー"
                                 "ザー、データベース名、pg_hba.conf を確かめてください）。 "
                                 "PostgreSQL: {1}",
                                 message));
    }
    if (Pq().PQsetClientEncoding(conn_.get(), "UTF8") != 0) {
        throw YubinError(ErrorCode::PublishServerFault,
                         Message("クライアントの文字コードを UTF-8 にできません。 PostgreSQL: {1}",
                                 Trimmed(Pq().PQerrorMessage(conn_.get()))));
    }
}

PgConnection::~PgConnection() = default;

void PgConnection::raise(const PGresult* result, const std::string& what) const {
    const char* state =
        result != nullptr ? Pq().PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (state == nullptr) {
        // No answer of the server: the connection broke (server gone, network down).
        throw YubinError(ErrorCode::PublishServerFault,
                         Message("{1}サーバーとの接続が切れました。 PostgreSQL: {2}", what,
                                 Trimmed(Pq().PQerrorMessage(conn_.get()))));
    }
    std::string message = Trimmed(Pq().PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY));
    for (const int field : {PG_DIAG_MESSAGE_DETAIL, PG_DIAG_MESSAGE_HINT}) {
        if (const char* extra = Pq().PQresultErrorField(result, field))
            message += " " + Trimmed(extra);
    }
    throw serverError(state, what, message);
}

PgResult PgConnection::checked(PGresult* raw, ExecStatusType expected,
                               const std::string& what) const {
    PgResult result(raw);
    if (!result || Pq().PQresultStatus(result.get()) != expected) raise(result.get(), what);
    return result;
}

void PgConnection::execute(const std::string& sql, const std::string& what) {
    send(sql, what);
    awaitResults(what);
}

void PgConnection::send(const std::string& sql, const std::string& what) {
    if (Pq().PQsendQuery(conn_.get(), sql.c_str()) != 1) raise(nullptr, what);
}

void PgConnection::awaitResults(const std::string& what) {
    // Several statements in one text answer with several results; each must succeed.
    std::optional<YubinError> failure;
    while (PGresult* raw = Pq().PQgetResult(conn_.get())) {
        PgResult result(raw);
        if (failure) continue;
        const ExecStatusType status = Pq().PQresultStatus(raw);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) continue;
        try {
            raise(raw, what);
        } catch (const YubinError& error) {
            failure = error;
        }
    }
    if (failure) throw *failure;
}

PgResult PgConnection::query(const std::string& sql, const std::vector<std::string>& parameters,
                             const std::string& what) {
    std::vector<const char*> values;
    for (const std::string& p : parameters) values.push_back(p.c_str());
    return checked(Pq().PQexecParams(conn_.get(), sql.c_str(), static_cast<int>(values.size()),
                                     nullptr, values.data(), nullptr, nullptr, 0),
                   PGRES_TUPLES_OK, what);
}

void PgConnection::beginCopy(const std::string& sql, const std::string& what) {
    checked(Pq().PQexec(conn_.get(), sql.c_str()), PGRES_COPY_IN, what);
}

void PgConnection::putCopyData(std::string_view data) {
    if (Pq().PQputCopyData(conn_.get(), data.data(), static_cast<int>(data.size())) != 1) {
        // The server may have refused the data already; its verdict explains why.
        endCopy();
        raise(nullptr, "");
    }
}

void PgConnection::endCopy(const std::string& what) {
    if (Pq().PQputCopyEnd(conn_.get(), nullptr) != 1) raise(nullptr, what);
    std::optional<YubinError> failure;
    while (PGresult* raw = Pq().PQgetResult(conn_.get())) {
        PgResult result(raw);
        if (failure || Pq().PQresultStatus(raw) == PGRES_COMMAND_OK) continue;
        try {
            raise(raw, what);
        } catch (const YubinError& error) {
            failure = error;
        }
    }
    if (failure) throw *failure;
}

void PgConnection::abandonCopy() noexcept {
    if (Pq().PQputCopyEnd(conn_.get(), "abandoned") != 1) return;
    while (PGresult* raw = Pq().PQgetResult(conn_.get())) Pq().PQclear(raw);
}

std::string PgConnection::quoteIdentifier(std::string_view name) const {
    char* quoted = Pq().PQescapeIdentifier(conn_.get(), name.data(), name.size());
    if (quoted == nullptr) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("名前 {1} を PostgreSQL の識別子にできません。", name));
    }
    std::string out = quoted;
    Pq().PQfreemem(quoted);
    return out;
}

}  // namespace yubin::publish
