// The command-line tests' fixture (a temporary home folder, the real executable) and their
// data-file lines: national lines that fill all 47 prefectures, business-office lines of one
// municipality.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace yubin::test {

// What the command line says while another program holds the database.
inline const char* const kWaitingForOtherProgram =
    "他のプログラムがデータベースを使用しています。待機中です…";

class CliFixture : public ::testing::Test {
  public:
    TempDir dir;
    std::vector<std::string> env() const {
        return {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config")};
    }
    ProcessResult yubinbox(const std::vector<std::string>& args) {
        return runYubinbox(args, env());
    }
    std::string db() const { return dir.file("yubinbox.mdb"); }
    // The rows of `select` on `database` through `yubinbox sql`, without the header line, or
    // "<error text>" when it failed.
    std::string queryRows(const std::string& database, const std::string& select) {
        ProcessResult r = yubinbox({"sql", database, select});
        const size_t header = r.out.find('\n');
        return header == std::string::npos ? "<" + r.err + ">" : r.out.substr(header + 1);
    }
    // The two data files written into the folder (KEN_ALL.CSV, JIGYOSYO.CSV) and imported into a
    // new database.
    void importIntoNewDatabase(const std::vector<std::string>& national,
                               const std::vector<std::string>& offices) {
        writeCp932Lines(dir.file("KEN_ALL.CSV"), national);
        writeCp932Lines(dir.file("JIGYOSYO.CSV"), offices);
        ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
        ASSERT_EQ(yubinbox({"import", "--db", db(), "--ken-all", dir.file("KEN_ALL.CSV"),
                            "--jigyosyo", dir.file("JIGYOSYO.CSV"), "--yes"})
                      .exitCode,
                  0);
    }
};

inline std::string KenLine(const std::string& code, const std::string& zip,
                           const std::string& town) {
    return code + ",\"100  \",\"" + zip + "\",\"ﾄｳｷｮｳﾄ\",\"ﾁﾖﾀﾞｸ\",\"ﾏﾁ\",\"都" +
           code.substr(0, 2) + "\",\"千代田区\",\"" + town + "\",0,0,0,0,0,0";
}

// `groupsPerPrefecture` one-line groups for each prefecture, in code order.
inline std::vector<std::string> KenLines(int groupsPerPrefecture) {
    std::vector<std::string> lines;
    for (int p = 1; p <= 47; ++p) {
        char code[6];
        std::snprintf(code, sizeof code, "%02d101", p);
        for (int z = 0; z < groupsPerPrefecture; ++z) {
            lines.push_back(
                KenLine(code, std::to_string(1000000 + p * 10000 + z), "町" + std::to_string(z)));
        }
    }
    return lines;
}

inline std::vector<std::string> OfficeLines(int count) {
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back("13101,\"ｼﾔ\",\"社" + std::to_string(i) +
                        "\",\"東京都\",\"千代田区\",\"町\",\"１\",\"" +
                        std::to_string(9000000 + i) + "\",\"100  \",\"局\",0,0,0");
    }
    return lines;
}

}  // namespace yubin::test
