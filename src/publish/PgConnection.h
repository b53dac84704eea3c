// One connection to a PostgreSQL server through libpq, with every failure raised as a
// YubinError whose number tells what happened: the login refused, no server at the address,
// missing rights, a lock not granted in time or a deadlock, or any other fault of the server.
#pragma once

#include "publish/LibPq.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"

namespace yubin::publish {

struct PgResultDeleter {
    void operator()(PGresult* result) const { Pq().PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

class PgConnection {
  public:
    // Connects with libpq's connection string (a URI or key=value pairs; the PG* environment
    // variables and the password file apply as everywhere). Raises PublishConnectionString,
    // PublishUnreachable or PublishLoginRefused. The client encoding is UTF-8.
    explicit PgConnection(const std::string& conninfo);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // One statement without rows to read (several, separated by ";"). `what` begins the
    // description of a failure (what could not be done).
    void execute(const std::string& sql, const std::string& what = "");
    // The same in two halves, so that several connections work at once: the statement sent,
    // then its results awaited.
    void send(const std::string& sql, const std::string& what = "");
    void awaitResults(const std::string& what = "");
    // A statement with text parameters ($1, ...); returns its rows.
    PgResult query(const std::string& sql, const std::vector<std::string>& parameters = {},
                   const std::string& what = "");

    // COPY ... FROM STDIN: begun, fed with data in any pieces, ended (the server's verdict).
    void beginCopy(const std::string& sql, const std::string& what = "");
    void putCopyData(std::string_view data);
    void endCopy(const std::string& what = "");
    // Ends a COPY that another stream's failure cut short; the server discards its rows.
    // Does nothing outside a COPY; reports nothing.
    void abandonCopy() noexcept;

    // An identifier quoted for this server ("name" with quotes doubled).
    std::string quoteIdentifier(std::string_view name) const;

    PGconn* handle() const { return conn_.get(); }

  private:
    struct ConnDeleter {
        void operator()(PGconn* conn) const { Pq().PQfinish(conn); }
    };
    [[noreturn]] void raise(const PGresult* result, const std::string& what) const;
    PgResult checked(PGresult* result, ExecStatusType expected, const std::string& what) const;

    std::unique_ptr<PGconn, ConnDeleter> conn_;
};

// The error for a failed statement: its number from the SQLSTATE (42501 missing rights,
// class 28 login, 55P03 lock not granted and 40P01 deadlock PublishBusy; anything else
// PublishServerFault), its description `what` and the server's message, detail and hint.
YubinError serverError(std::string_view sqlState, const std::string& what,
                       const std::string& serverMessage);

}  // namespace yubin::publish
