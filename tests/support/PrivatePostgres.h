// A PostgreSQL server of the test's own: a cluster copied from a template that initdb makes
// once per machine, listening only on a Unix socket in a temporary folder, run as an
// unprivileged user when the test runs as root (the server refuses root). Stopped and removed
// when the object goes, and by a watchdog process when the test process dies first.
//
// Roles: the superuser `yubin_admin` (trusted on the socket), and with passwords
// `publisher` (CREATE on every database made by createDatabase), `noright` (no rights) and
// `reader`.
#pragma once

#include <string>
#include <vector>

namespace yubin::test {

class PrivatePostgres {
  public:
    // Whether PostgreSQL's server programs are installed (tests skip otherwise).
    static bool available();

    // Starts the server; throws std::runtime_error with the server's log when it cannot.
    explicit PrivatePostgres(bool durable = false);
    ~PrivatePostgres();
    PrivatePostgres(const PrivatePostgres&) = delete;
    PrivatePostgres& operator=(const PrivatePostgres&) = delete;

    const std::string& socketDir() const { return socketDir_; }
    int port() const { return port_; }
    // key=value connection string for the role and database, without a password.
    std::string conninfo(const std::string& user, const std::string& database) const;
    // A password file (mode 0600) holding every role's password, for PGPASSFILE.
    const std::string& passwordFile() const { return passwordFile_; }
    static std::string password(const std::string& user) { return user + "-secret"; }

    // A new UTF-8 database on which `publisher` may create schemas.
    void createDatabase(const std::string& name);
    // Runs statements as the superuser; throws std::runtime_error with the server's message.
    void admin(const std::string& database, const std::string& sql) const;
    // The rows of a query as the superuser, each value as text ("\N" for Null).
    std::vector<std::vector<std::string>> rows(const std::string& database,
                                               const std::string& sql) const;

    // The folder of initdb, pg_ctl and psql's siblings (/usr/lib/postgresql/N/bin).
    static std::string binDir();

  private:
    void start(const std::string& bin, const std::string& cluster, bool durable);
    void stop();

    std::string folder_;  // the instance: data/, the socket, the log
    std::string socketDir_;
    std::string passwordFile_;
    int port_ = 5432;
    int watchdogPipe_ = -1;  // its closing tells the watchdog to stop the server
    int watchdogPid_ = -1;
};

}  // namespace yubin::test
