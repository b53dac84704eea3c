#include "support/PrivatePostgres.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace yubin::test {

namespace fs = std::filesystem;

namespace {

// Bump when the template's settings change, so that an older template is not reused.
constexpr const char* kTemplateVersion = "v1";

// The server refuses to run as root: then it runs as this user.
std::string ServerUser() {
    if (geteuid() != 0) return {};
    return getpwnam("postgres") != nullptr ? "postgres" : "nobody";
}

// Runs the program (as the server's user when there is one); its output goes to the log.
int Run(std::vector<std::string> argv, const std::string& log) {
    const std::string user = ServerUser();
    if (!user.empty()) argv.insert(argv.begin(), {"runuser", "-u", user, "--"});
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) throw std::runtime_error("waitpid failed");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void GiveToServerUser(const std::string& path) {
    const std::string user = ServerUser();
    if (user.empty()) return;
    const passwd* pw = getpwnam(user.c_str());
    if (pw == nullptr || chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        throw std::runtime_error("cannot give " + path + " to " + user);
    }
}

std::string MajorVersion(const std::string& binDir) {
    return fs::path(binDir).parent_path().filename().string();
}

// The cluster every instance copies: made once per machine, under a lock, by one rename.
std::string Template() {
    const std::string bin = PrivatePostgres::binDir();
    const std::string user = ServerUser().empty() ? std::to_string(geteuid()) : ServerUser();
    const std::string base = (fs::temp_directory_path() / "yubinbox-pg-template-").string() +
                             kTemplateVersion + "-" + MajorVersion(bin) + "-" + user;
    const int lock = open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) throw std::runtime_error("cannot lock " + base);
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{lock};
    if (fs::exists(base + "/PG_VERSION")) return base;

    const std::string work = base + ".tmp-" + std::to_string(getpid());
    fs::remove_all(work);
    fs::create_directory(work);
    GiveToServerUser(work);
    const std::string log = work + ".log";
    const int rc = Run({bin + "/initdb", "-D", work, "-U", "yubin_admin", "--no-sync", "-E", "UTF8",
                        "--locale=C", "--auth-local=trust", "--auth-host=scram-sha-256"},
                       log);
    if (rc != 0) throw std::runtime_error("initdb failed: " + ReadFile(log));
    fs::remove(log);
    {
        std::ofstream hba(work + "/pg_hba.conf", std::ios::trunc);
        hba << "local all yubin_admin trust\n"
               "local all all scram-sha-256\n"
               "host all all 127.0.0.1/32 scram-sha-256\n";
    }
    GiveToServerUser(work + "/pg_hba.conf");
    fs::rename(work, base);
    return base;
}

std::string EscapeConninfoValue(const std::string& value) {
    std::string out = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

struct PgConnDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct PgResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};

}  // namespace

std::string PrivatePostgres::binDir() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        if (fs::exists(entry.path() / "bin/initdb")) found.push_back(entry.path() / "bin");
    }
    if (found.empty()) return {};
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return std::stoi(a.parent_path().filename()) < std::stoi(b.parent_path().filename());
    });
    return found.back().string();
}

bool PrivatePostgres::available() {
    return !binDir().empty() && (geteuid() != 0 || access("/usr/sbin/runuser", X_OK) == 0 ||
                                 access("/sbin/runuser", X_OK) == 0);
}

PrivatePostgres::PrivatePostgres(bool durable) {
    const std::string bin = binDir();
    if (bin.empty()) throw std::runtime_error("PostgreSQL's server programs are not installed");
    const std::string cluster = Template();

    std::string pattern = (fs::temp_directory_path() / "yubin-pg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    socketDir_ = folder_;
    GiveToServerUser(folder_);

    // The watchdog: a shell that waits for the end of this pipe (this object going, or the
    // test process dying), then stops the server and removes the folder.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string data = folder_ + "/data";
    const std::string user = ServerUser();
    const std::string as = user.empty() ? "" : "runuser -u " + user + " -- ";
    const std::string script = "read _; " + as + "'" + bin + "/pg_ctl' -D '" + data +
                               "' -m immediate stop >/dev/null 2>&1; rm -rf '" + folder_ + "'";
    const pid_t watchdog = fork();
    if (watchdog < 0) throw std::runtime_error("fork failed");
    if (watchdog == 0) {
        setsid();
        dup2(ends[0], 0);
        execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[0]);
    watchdogPipe_ = ends[1];
    watchdogPid_ = watchdog;
    try {
        start(bin, cluster, durable);
    } catch (...) {
        stop();
        throw;
    }
}

void PrivatePostgres::start(const std::string& bin, const std::string& cluster, bool durable) {
    const std::string data = folder_ + "/data";
    const std::string log = folder_ + "/server.log";
    if (Run({"cp", "-a", cluster, data}, log) != 0) {
        throw std::runtime_error("cannot copy the template: " + ReadFile(log));
    }
    std::string options = "-c listen_addresses='' -c unix_socket_directories='" + folder_ +
                          "' -p " + std::to_string(port_) + " -c max_connections=30";
    if (!durable) options += " -c fsync=off -c synchronous_commit=off -c full_page_writes=off";
    // The server writes its own log as its user; the programs' output goes to ours.
    const std::string serverLog = folder_ + "/postgres.log";
    if (Run({bin + "/pg_ctl", "-D", data, "-l", serverLog, "-w", "-t", "120", "-o", options,
             "start"},
            log) != 0) {
        throw std::runtime_error("the server did not start: " + ReadFile(log) +
                                 ReadFile(serverLog));
    }

    passwordFile_ = folder_ + "/pgpass";
    {
        std::ofstream file(passwordFile_, std::ios::trunc);
        for (const char* role : {"publisher", "noright", "reader"}) {
            file << "*:*:*:" << role << ":" << password(role) << "\n";
        }
    }
    chmod(passwordFile_.c_str(), 0600);
    std::string roles;
    for (const char* role : {"publisher", "noright", "reader"}) {
        roles += std::string("CREATE ROLE ") + role + " LOGIN PASSWORD '" + password(role) + "';";
    }
    admin("postgres", roles);
}

PrivatePostgres::~PrivatePostgres() { stop(); }

void PrivatePostgres::stop() {
    if (watchdogPipe_ >= 0) close(watchdogPipe_);
    watchdogPipe_ = -1;
    if (watchdogPid_ > 0) waitpid(watchdogPid_, nullptr, 0);
    watchdogPid_ = -1;
}

std::string PrivatePostgres::conninfo(const std::string& user, const std::string& database) const {
    return "host=" + EscapeConninfoValue(socketDir_) + " port=" + std::to_string(port_) +
           " dbname=" + EscapeConninfoValue(database) + " user=" + EscapeConninfoValue(user);
}

void PrivatePostgres::createDatabase(const std::string& name) {
    admin("postgres", "CREATE DATABASE \"" + name +
                          "\" TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C'");
    admin(name, "GRANT CREATE ON DATABASE \"" + name + "\" TO publisher");
}

void PrivatePostgres::admin(const std::string& database, const std::string& sql) const {
    rows(database, sql);
}

std::vector<std::vector<std::string>> PrivatePostgres::rows(const std::string& database,
                                                            const std::string& sql) const {
    std::unique_ptr<PGconn, PgConnDeleter> conn(
        PQconnectdb(conninfo("yubin_admin", database).c_str()));
    if (PQstatus(conn.get()) != CONNECTION_OK) {
        throw std::runtime_error(std::string("admin connection: ") + PQerrorMessage(conn.get()));
    }
    std::unique_ptr<PGresult, PgResultDeleter> result(PQexec(conn.get(), sql.c_str()));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        throw std::runtime_error(sql + ": " + PQerrorMessage(conn.get()));
    }
    std::vector<std::vector<std::string>> out;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < PQnfields(result.get()); ++c) {
            row.push_back(PQgetisnull(result.get(), r, c) ? "\\N" : PQgetvalue(result.get(), r, c));
        }
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace yubin::test
