// The reading commands for scripts (lookup, search, summary) and the parser's messages, through
// the real executable on small databases made row by row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace yubin::test {
namespace {

class CliQueryTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string db() const { return dir.file("yubinbox.mdb"); }
    ProcessResult yubinbox(const std::vector<std::string>& args, const std::string& input = "") {
        return runYubinbox(
            args, {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + dir.file(".config")}, input);
    }
    ProcessResult query(std::vector<std::string> args, const std::string& input = "") {
        args.insert(args.begin() + 1, {"--db", db()});
        return yubinbox(args, input);
    }
    void sql(const std::string& statement) {
        const ProcessResult r = yubinbox({"sql", db(), statement});
        ASSERT_EQ(r.exitCode, 0) << statement << "\n" << r.err;
    }
    struct ZipRow {
        std::string city, zip, townKana, town;
        std::string officeKana, office, street, postOffice;
        long recno;
    };
    void insert(const ZipRow& r) {
        const bool office = !r.office.empty();
        const auto q = [](const std::string& text) {
            std::string quoted = "'";
            for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
            return quoted + "'";
        };
        sql("INSERT INTO ZIPALL VALUES(" + q(r.city) + ", '100', " + q(r.zip) + ", " +
            q(r.townKana) + ", " + q(r.town) + ", 0, 0, 0, 0, 0, 0, " + q(r.officeKana) + ", " +
            q(r.office) + ", " + q(r.postOffice) + ", " + (office ? "'0'" : "''") + ", " +
            q(r.street) + ", " + (office ? "'1'" : "''") + ", " + std::to_string(r.recno) + ")");
    }

    // Tokyo's Chiyoda with two national rows, one business office, and a municipality that
    // only a business office named (a placeholder, without a reading).
    void makeFixture() {
        ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
        sql("INSERT INTO 都道府県 VALUES('13', '東京都', 'ﾄｳｷｮｳﾄ')");
        sql("INSERT INTO 市町村 VALUES('13101', '千代田区', 'ﾁﾖﾀﾞｸ', 0)");
        sql("INSERT INTO 市町村 (JISX0402, 市町村名, 抹消FLAG) VALUES('13999', '架空村', 1)");
        insert({"13101", "1000001", "ﾁﾖﾀﾞ", "千代田", "", "", "", "", 1});
        insert({"13101", "1000005", "ﾏﾙﾉｳﾁ(ﾂｷﾞﾉﾋﾞﾙｦﾉｿﾞｸ)", "丸の内（次のビルを除く）", "", "", "",
                "", 2});
        insert({"13101", "1008111", "", "千代田", "(ｶﾌﾞ) ﾆﾎﾝｹｲｻﾞｲｼﾝﾌﾞﾝｼﾔ",
                "株式会社　日本経済新聞社", "１－３", "銀座, \"本局\"", 1000001});
        insert(
            {"13999", "1009999", "", "字中央", "ｼｮｳﾜｼｮｯﾌﾟ", "昭和ショップ", "", "架空", 1000002});
    }
};

TEST_F(CliQueryTest, LookupTakesCodesAsPeopleWriteThemAndReportsEachMissingOne) {
    makeFixture();
    ProcessResult r =
        query({"lookup", "〒１００－０００１", "100ー0005", "1000003", "1 0 0 8 1 1 1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "郵便番号\t区分\t都道府県名\t市町村名\t町域名\t丁目番地等\t事業所名\t取扱郵便局\n"
              "1000001\t全国\t東京都\t千代田区\t千代田\t\t\t\n"
              "1000005\t全国\t東京都\t千代田区\t丸の内（次のビルを除く）\t\t\t\n"
              "1008111\t事業所\t東京都\t千代田区\t千代田\t１－３\t株式会社　日本経済新聞社\t銀座, "
              "\"本局\"\n");
    EXPECT_EQ(r.err, "yubinbox: 該当する郵便番号はありません: 1000003\n");

    EXPECT_EQ(query({"lookup", "1000001", "100-0005"}).exitCode, 0);

    // A wrong argument stops before anything is read.
    ProcessResult wrong = query({"lookup", "1000001", "100-00-01"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.out, "");
    EXPECT_NE(wrong.err.find("「100-00-01」は郵便番号ではありません"), std::string::npos);

    // Standard input: one code a line, blank lines skipped, each wrong line reported.
    ProcessResult piped = query({"lookup"}, "1000001\r\n\n  \n1000005\n");
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.out.find("1000001\t全国"), piped.out.find('\n') + 1) << piped.out;
    EXPECT_NE(piped.out.find("1000005\t全国"), std::string::npos);
    ProcessResult pipedWrong = query({"lookup"}, "1000001\nabc\n1000002\n");
    EXPECT_EQ(pipedWrong.exitCode, 2);
    EXPECT_NE(pipedWrong.out.find("1000001\t全国"), std::string::npos);
    EXPECT_NE(pipedWrong.err.find("「abc」は郵便番号ではありません"), std::string::npos);
    EXPECT_NE(pipedWrong.err.find("該当する郵便番号はありません: 1000002"), std::string::npos);
}

TEST_F(CliQueryTest, CsvQuotesAsRfc4180AndJsonCarriesEveryColumnAndTheMasterNames) {
    makeFixture();
    ProcessResult csv = query({"lookup", "--format", "csv", "1008111"});
    EXPECT_EQ(csv.exitCode, 0) << csv.err;
    EXPECT_EQ(csv.out,
              "郵便番号,区分,都道府県名,市町村名,町域名,丁目番地等,事業所名,取扱郵便局\r\n"
              "1008111,事業所,東京都,千代田区,千代田,１－３,株式会社　日本経済新聞社,"
              "\"銀座, \"\"本局\"\"\"\r\n");

    ProcessResult json = query({"lookup", "--format", "json", "1009999", "1000001"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"postal_code\":\"1009999\",\"kind\":\"office\",\"prefecture\":\"東京都\","
              "\"prefecture_kana\":\"ﾄｳｷｮｳﾄ\",\"municipality\":\"架空村\","
              "\"municipality_kana\":null,\"town\":\"字中央\",\"town_kana\":\"\","
              "\"street_address\":\"\",\"office_name\":\"昭和ショップ\","
              "\"office_name_kana\":\"ｼｮｳﾜｼｮｯﾌﾟ\",\"post_office\":\"架空\","
              "\"office_number_kind\":\"0\",\"municipality_code\":\"13999\","
              "\"old_postal_code\":\"100\",\"flag1\":0,\"flag2\":0,\"flag3\":0,\"duplicate\":0,"
              "\"flag4\":0,\"flag5\":0,\"data_id\":\"1\",\"record_number\":1000002}\n"
              "{\"postal_code\":\"1000001\",\"kind\":\"national\",\"prefecture\":\"東京都\","
              "\"prefecture_kana\":\"ﾄｳｷｮｳﾄ\",\"municipality\":\"千代田区\","
              "\"municipality_kana\":\"ﾁﾖﾀﾞｸ\",\"town\":\"千代田\",\"town_kana\":\"ﾁﾖﾀﾞ\","
              "\"street_address\":\"\",\"office_name\":\"\",\"office_name_kana\":\"\","
              "\"post_office\":\"\",\"office_number_kind\":\"\",\"municipality_code\":\"13101\","
              "\"old_postal_code\":\"100\",\"flag1\":0,\"flag2\":0,\"flag3\":0,\"duplicate\":0,"
              "\"flag4\":0,\"flag5\":0,\"data_id\":\"\",\"record_number\":1}\n");
}

TEST_F(CliQueryTest, SearchMatchesKanjiAndKanaInEitherWidthAcrossTheNames) {
    makeFixture();
    const auto zips = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "search");
        ProcessResult r = query(args);
        std::string codes;
        size_t line = r.out.find('\n');  // after the header
        while (line != std::string::npos && line + 1 < r.out.size()) {
            codes += (codes.empty() ? "" : " ") + r.out.substr(line + 1, 7);
            line = r.out.find('\n', line + 1);
        }
        return std::to_string(r.exitCode) + ":" + codes;
    };
    // The municipality and the town area, in kanji and as the reading typed three ways.
    for (const char* word : {"千代田", "ちよだ", "チヨダ", "ﾁﾖﾀﾞ", "ﾁ ﾖ ﾀﾞ"}) {
        EXPECT_EQ(zips({word}), "0:1000001 1000005 1008111") << word;
    }
    // An address written on from the prefecture; every word must match somewhere.
    EXPECT_EQ(zips({"東京都千代田区千代田"}), "0:1000001 1008111");
    EXPECT_EQ(zips({"とうきょうと", "まるのうち"}), "0:1000005");
    EXPECT_EQ(zips({"千代田", "まるのうち"}), "0:1000005");
    EXPECT_EQ(zips({"丸の内", "しんぶん"}), "1:");
    // Voiced letters typed whole match the stored letter and mark; small and full-size kana
    // meet; blanks between words of a name do not count.
    EXPECT_EQ(zips({"つぎのびる"}), "0:1000005");
    EXPECT_EQ(zips({"しんぶんしゃ"}), "0:1008111");
    EXPECT_EQ(zips({"日本経済新聞社"}), "0:1008111");
    EXPECT_EQ(zips({"ショウワショップ"}), "0:1009999");
    EXPECT_EQ(zips({"しようわしよつぷ"}), "0:1009999");
    // A municipality known only from a business office, by its name.
    EXPECT_EQ(zips({"架空"}), "0:1009999");
    // Full-width and ASCII signs meet.
    EXPECT_EQ(zips({"（ｶﾌﾞ）"}), "0:1008111");

    ProcessResult limited = query({"search", "--limit", "1", "--format", "csv", "千代田"});
    EXPECT_EQ(limited.exitCode, 0);
    EXPECT_EQ(limited.out,
              "郵便番号,区分,都道府県名,市町村名,町域名,丁目番地等,事業所名,取扱郵便局\r\n"
              "1000001,全国,東京都,千代田区,千代田,,,\r\n");
    EXPECT_NE(limited.err.find("1 件を超えた"), std::string::npos) << limited.err;

    ProcessResult none = query({"search", "存在しない"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, "yubinbox: 該当するデータはありません。\n");
    EXPECT_EQ(query({"search", "　"}).exitCode, 2);
}

TEST_F(CliQueryTest, SummarySaysWhatIsRegisteredAndWhenAnImportWasInterrupted) {
    makeFixture();
    sql("INSERT INTO 作成日 VALUES('20240228', NULL)");
    sql("INSERT INTO 登録中 VALUES(1000300)");
    ProcessResult json = query({"summary", "--format", "json"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"registered\":{\"national\":{\"stamp\":\"20240228\",\"date\":\"2024-02-28\"},"
              "\"office\":null},\"counts\":{\"national\":2,\"office\":2,\"prefectures\":1,"
              "\"municipalities\":2,\"placeholderMunicipalities\":1},\"resume\":{\"pending\":true,"
              "\"kind\":\"office\",\"marker\":1000300},\"keys\":{\"postal_code\":false,"
              "\"recno\":false,\"jisx0401\":false,\"jisx0402\":false},"
              "\"complete\":{\"national\":true,\"office\":true}}\n");
    ProcessResult text = query({"summary"});
    EXPECT_EQ(text.out,
              "【現在、登録されている郵便番号データの作成日】\n"
              "　全国版郵便番号データ　　　： 2024年02月28日\n"
              "事業所個別郵便番号データの取り込みが途中で中止されています。"
              "次の取り込みで続きから取り込みます。\n");

    // A national abort; then a finished run with its index and keys.
    sql("DELETE FROM 登録中");
    sql("INSERT INTO 登録中 VALUES(5000)");
    EXPECT_NE(query({"summary"}).out.find("全国版郵便番号データの取り込みが途中で中止"),
              std::string::npos);
    sql("DELETE FROM 登録中");
    EXPECT_NE(query({"summary"}).out.find("郵便番号の索引がありません。"), std::string::npos);
    sql("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
    sql("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
    sql("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
    sql("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");
    sql("UPDATE 作成日 SET JIGYOSYO = '20240231'");  // no such day: no ISO date
    json = query({"summary", "--format", "json"});
    EXPECT_NE(json.out.find("\"office\":{\"stamp\":\"20240231\",\"date\":null}"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"resume\":{\"pending\":false,\"kind\":null,\"marker\":null},"
                            "\"keys\":{\"postal_code\":true,\"recno\":true,\"jisx0401\":true,"
                            "\"jisx0402\":true},\"complete\":{\"national\":true,"
                            "\"office\":true}}"),
              std::string::npos)
        << json.out;
    EXPECT_EQ(query({"summary"}).out.find("索引"), std::string::npos);
}

TEST_F(CliQueryTest, ParserSpeaksJapanese) {
    ProcessResult version = yubinbox({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("yubinbox ", 0), 0u) << version.out;

    ProcessResult unknown = yubinbox({"frobnicate", "x"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("不明なサブコマンドです: frobnicate"), std::string::npos);

    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"summary", "extra"}, "余分な引数があります: extra"},
        {{"lookup", "--db"}, "--db に値を指定してください。"},
        {{"lookup", "--format", "xml", "1000001"}, "出力形式 xml はありません"},
        {{"search"}, "WORDS を指定してください。"},
        {{"search", "--limit", "many", "x"}, "--limit の値 many は使えません。"},
        {{"search", "--limit", "-1", "x"}, "--limit の値 -1 は使えません。"},
        {{"import", "--pause", "-1"}, "--pause の値 -1 は使えません。"},
        {{"summary", "--bogus"}, "不明なオプションです: --bogus"},
    };
    for (const auto& c : cases) {
        ProcessResult r = yubinbox(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("使い方は --help で表示されます。"), std::string::npos) << r.err;
    }

    ProcessResult help = yubinbox({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("使い方:"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("サブコマンド:"), std::string::npos);
    EXPECT_NE(help.out.find("終了コード"), std::string::npos);
    ProcessResult searchHelp = yubinbox({"search", "--help"});
    EXPECT_NE(searchHelp.out.find("オプション:"), std::string::npos) << searchHelp.out;
    EXPECT_NE(searchHelp.out.find("--limit"), std::string::npos);
}

}  // namespace
}  // namespace yubin::test
