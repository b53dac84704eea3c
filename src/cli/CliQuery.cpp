#include "cli/CliQuery.h"

#include <sys/stat.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliSupport.h"
#include "cli/RowOutput.h"
#include "cli/SafeText.h"
#include "import/DataCompleteness.h"
#include "import/mdInport.h"
#include "query/Normalize.h"
#include "query/QueryData.h"

namespace yubin::cli {

namespace {

using db::CursorType;
using db::LockType;
using db::Recordset;

// The search's default limit on the rows printed.
constexpr long long kDefaultSearchLimit = 100;

struct QueryOptions {
    std::string database;
    std::string format = "tsv";
    std::vector<std::string> codes;
    std::vector<std::string> words;
    long long limit = kDefaultSearchLimit;
};

OutputFormat FormatOf(const QueryOptions& options) {
    return ParseOutputFormat(options.format).value_or(OutputFormat::Tsv);
}

// --format's check, with the parser's message in Japanese.
CLI::Validator FormatValidator(std::vector<std::string> allowed) {
    std::string names;
    for (const std::string& name : allowed) names += (names.empty() ? "" : "|") + name;
    return CLI::Validator(
        [allowed, names](std::string& value) -> std::string {
            for (const std::string& name : allowed) {
                if (value == name) return {};
            }
            return "出力形式 " + value + " はありません（" + names + " のどれか）";
        },
        "");
}

// The longest line of standard input that is looked at: a postal code as people write it,
// with room to spare.
constexpr std::size_t kMaxInputLineBytes = 1024;

// What identifies the database file's content from outside: another program's import, a
// compaction or a new database changes it.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modified = 0;  // nanoseconds
    bool operator==(const FileState&) const = default;
};
FileState StateOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

void PrintCodeError(const std::string& written) {
    std::cerr << "yubinbox: 「" << Printable(written)
              << "」は郵便番号ではありません。7 桁の数字で指定してください（例: 100-0001）。"
              << std::endl;
}

int RunLookup(const QueryOptions& options) {
    // Arguments are checked before anything is read; lines of standard input one by one.
    for (const std::string& written : options.codes) {
        if (!NormalizePostalCode(written)) {
            PrintCodeError(written);
            return kExitUsage;
        }
    }
    const std::string database = DatabaseFromOptionOrSettings(options.database);
    auto connection = Connect(database);
    FileState loaded = StateOf(database);
    Masters masters(*connection);
    RowWriter writer(std::cout, FormatOf(options), masters);
    bool someNotFound = false, someMalformed = false;
    const auto lookUp = [&](const std::string& written) {
        // Standard input may be answered for hours: the masters are read again once another
        // program has changed the database (an import deletes and adds them).
        if (const FileState now = StateOf(database); !(now == loaded)) {
            masters.forget();
            loaded = now;
        }
        const std::optional<std::string> code = NormalizePostalCode(written);
        if (!code) {
            PrintCodeError(written);
            someMalformed = true;
            return;
        }
        const QueryRows rows = RowsOfPostalCode(*connection, *code);
        writer.write(rows);
        std::cout.flush();  // a program reading the answers line by line gets each at once
        if (rows.rows.empty()) {
            std::cerr << "yubinbox: 該当する郵便番号はありません: " << Printable(written)
                      << std::endl;
            someNotFound = true;
        }
    };
    if (!options.codes.empty()) {
        for (const std::string& written : options.codes) lookUp(written);
    } else {
        std::string line;
        for (long long number = 1;; ++number) {
            const InputLine read = ReadBoundedLine(std::cin, line, kMaxInputLineBytes);
            if (read == InputLine::End) break;
            if (read == InputLine::TooLong) {
                std::cerr << "yubinbox: 標準入力の " << number << " 行目が " << kMaxInputLineBytes
                          << " バイトを超えているため、読み飛ばしました。" << std::endl;
                someMalformed = true;
                continue;
            }
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            lookUp(line);
        }
    }
    if (someMalformed) return kExitUsage;
    return someNotFound ? kExitFailure : kExitOk;
}

int RunSearch(const QueryOptions& options) {
    std::vector<std::string> words;
    for (const std::string& word : options.words) {
        std::string folded = Folded(word);
        if (!folded.empty()) words.push_back(std::move(folded));
    }
    if (words.empty()) {
        std::cerr << "yubinbox: 検索する語を指定してください。" << std::endl;
        return kExitUsage;
    }
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    Masters masters(*connection);
    const QueryRows rows =
        SearchRows(*connection, masters, words, static_cast<std::size_t>(options.limit));
    RowWriter(std::cout, FormatOf(options), masters).write(rows);
    std::cout.flush();
    if (rows.truncated) {
        std::cerr << "yubinbox: 該当する行が " << options.limit
                  << " 件を超えたため、ここまでを表示しました（すべて表示するには --limit 0）。"
                  << std::endl;
    }
    if (rows.rows.empty()) {
        std::cerr << "yubinbox: 該当するデータはありません。" << std::endl;
        return kExitFailure;
    }
    return kExitOk;
}

// ---- summary -------------------------------------------------------------------------------

long long CountRows(db::Connection& connection, const std::string& tableAndCondition) {
    Recordset rs;
    rs.open("SELECT COUNT(*) As DCOUNT FROM " + tableAndCondition, connection,
            CursorType::ForwardOnly, LockType::ReadOnly);
    return rs.field("DCOUNT").value().toNumber();
}

// What the summary reports about one database.
struct SummaryFacts {
    std::string nationalStamp, officeStamp;  // "" when not registered
    long long nationalRows = 0, officeRows = 0, prefectures = 0, municipalities = 0,
              placeholderMunicipalities = 0;
    long long resumeMarker = 0;  // the row of 登録中; 0 when none (0 also reads as none)
    std::vector<std::pair<const char*, bool>> keys;  // the import's keys and index: present?
    import::Completeness completeness;               // data a run left unfinished
};

SummaryFacts ReadSummaryFacts(db::Connection& connection) {
    SummaryFacts facts;
    {
        Recordset rs;
        rs.open("SELECT * FROM 作成日", connection, CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof()) {
            facts.nationalStamp = rs.field("ZIPALL").value().toText();
            facts.officeStamp = rs.field("JIGYOSYO").value().toText();
        }
    }
    facts.nationalRows = CountRows(connection, "ZIPALL WHERE データ識別 <> '1'");
    facts.officeRows = CountRows(connection, "ZIPALL WHERE データ識別 = '1'");
    facts.prefectures = CountRows(connection, "都道府県");
    facts.municipalities = CountRows(connection, "市町村");
    facts.placeholderMunicipalities = CountRows(connection, "市町村 WHERE 抹消FLAG = 1");
    {
        Recordset rs;
        rs.open("SELECT * FROM 登録中", connection, CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof() && !rs.field("RECNO").value().isNull()) {
            facts.resumeMarker = rs.field("RECNO").value().toNumber();
        }
    }
    facts.completeness = import::ReadCompleteness(connection);
    const std::vector<db::KeyInfo> keys = connection.keys();
    for (const char* name : {"x_郵便番号", "xRECNO", "xJISX0401", "xJISX0402"}) {
        const bool present = std::any_of(keys.begin(), keys.end(),
                                         [&](const db::KeyInfo& key) { return key.name == name; });
        facts.keys.emplace_back(name, present);
    }
    return facts;
}

bool ResumePending(const SummaryFacts& facts) { return facts.resumeMarker != 0; }
bool OfficeResume(const SummaryFacts& facts) {
    return facts.resumeMarker > mdInport::kOfficeRecNoBase;
}

// "yyyymmdd" -> "yyyy-mm-dd"; "" when the stamp is no calendar date.
std::string IsoDate(const std::string& stamp) {
    if (stamp.size() != 8 || stamp.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    const std::chrono::year_month_day date{std::chrono::year(std::stoi(stamp.substr(0, 4))),
                                           std::chrono::month(std::stoul(stamp.substr(4, 2))),
                                           std::chrono::day(std::stoul(stamp.substr(6, 2)))};
    if (!date.ok()) return {};
    return stamp.substr(0, 4) + '-' + stamp.substr(4, 2) + '-' + stamp.substr(6, 2);
}

std::string JsonDate(const std::string& stamp) {
    if (stamp.empty()) return "null";
    const std::string iso = IsoDate(stamp);
    return "{\"stamp\":" + JsonString(stamp) +
           ",\"date\":" + (iso.empty() ? "null" : JsonString(iso)) + '}';
}

std::string SummaryJson(const SummaryFacts& facts) {
    std::string json = "{\"registered\":{\"national\":" + JsonDate(facts.nationalStamp) +
                       ",\"office\":" + JsonDate(facts.officeStamp) + '}';
    json += ",\"counts\":{\"national\":" + std::to_string(facts.nationalRows) +
            ",\"office\":" + std::to_string(facts.officeRows) +
            ",\"prefectures\":" + std::to_string(facts.prefectures) +
            ",\"municipalities\":" + std::to_string(facts.municipalities) +
            ",\"placeholderMunicipalities\":" + std::to_string(facts.placeholderMunicipalities) +
            '}';
    json += ",\"resume\":{\"pending\":";
    if (ResumePending(facts)) {
        json += std::string("true,\"kind\":") +
                (OfficeResume(facts) ? "\"office\"" : "\"national\"") +
                ",\"marker\":" + std::to_string(facts.resumeMarker) + '}';
    } else {
        json += "false,\"kind\":null,\"marker\":null}";
    }
    json += ",\"keys\":{";
    for (size_t i = 0; i < facts.keys.size(); ++i) {
        json += std::string(i ? "," : "") + JsonString(facts.keys[i].first) + ':' +
                (facts.keys[i].second ? "true" : "false");
    }
    // Whether the data of each kind is all there (false: a run replacing it did not finish).
    json += std::string("},\"complete\":{\"national\":") +
            (facts.completeness.nationalIncomplete ? "false" : "true") +
            ",\"office\":" + (facts.completeness.officeIncomplete ? "false" : "true");
    return json + "}}";
}

std::string SummaryText(const SummaryFacts& facts) {
    std::string text = ForTerminal(
        import::CompletenessSummary(facts.nationalStamp, facts.officeStamp, facts.completeness));
    if (text.empty()) text = "登録されている郵便番号データはありません。";
    if (ResumePending(facts)) {
        text += OfficeResume(facts)
                    ? "\n事業所個別郵便番号データの取り込みが途中で中止されています。"
                      "次の取り込みで続きから取り込みます。"
                    : "\n全国版郵便番号データの取り込みが途中で中止されています。"
                      "次の取り込みで続きから取り込みます。";
    } else if (!facts.keys.empty() && !(facts.keys[0].second && facts.keys[1].second) &&
               facts.nationalRows + facts.officeRows > 0) {
        // No marker, yet the run's index is missing: a run that ended by an error or a kill.
        text += "\n郵便番号の索引がありません。最後の取り込みは完了していません。";
    }
    return text;
}

int RunSummary(const QueryOptions& options) {
    auto connection = Connect(DatabaseFromOptionOrSettings(options.database));
    const SummaryFacts facts = ReadSummaryFacts(*connection);
    std::cout << (FormatOf(options) == OutputFormat::Json ? SummaryJson(facts) : SummaryText(facts))
              << std::endl;
    return kExitOk;
}

void AddDatabaseOption(CLI::App& command, QueryOptions& options) {
    command.add_option("--db", options.database,
                       "データベースファイル（省略時は設定ファイルの path） / database file");
}

}  // namespace

void AddQueryCommands(CLI::App& app, std::function<int()>& action) {
    auto options = std::make_shared<QueryOptions>();

    auto* summary = app.add_subcommand(
        "summary", "登録データの作成日と件数 / dates and counts of the registered data");
    AddDatabaseOption(*summary, *options);
    summary->add_option("--format", options->format, "text（既定）または json / text or json")
        ->check(FormatValidator({"text", "json"}));
    summary->callback([&action, options] {
        if (options->format == "text") options->format = "tsv";
        action = [options] { return RunSummary(*options); };
    });

    auto* lookup = app.add_subcommand(
        "lookup",
        "郵便番号の行を表示（コードがなければ標準入力から 1 行に 1 つ） / rows of postal codes");
    lookup->add_option("CODE", options->codes,
                       "7 桁の郵便番号（100-0001、〒１００－０００１ も可） / seven digits");
    AddDatabaseOption(*lookup, *options);
    lookup->add_option("--format", options->format, "tsv（既定）、csv、json / output format")
        ->check(FormatValidator({"tsv", "csv", "json"}));
    lookup->callback([&action, options] { action = [options] { return RunLookup(*options); }; });

    auto* search = app.add_subcommand(
        "search", "名前にすべての語を含む行を表示 / rows whose names contain every word");
    search
        ->add_option("WORDS", options->words,
                     "都道府県・市町村・町域・事業所の名前（漢字またはかな） / words")
        ->required();
    AddDatabaseOption(*search, *options);
    search->add_option("--format", options->format, "tsv（既定）、csv、json / output format")
        ->check(FormatValidator({"tsv", "csv", "json"}));
    search
        ->add_option("--limit", options->limit,
                     "表示する最大件数（既定 100、0 で無制限） / most rows shown (0: all)")
        ->check(CLI::NonNegativeNumber.description(""));
    search->callback([&action, options] { action = [options] { return RunSearch(*options); }; });
}

}  // namespace yubin::cli
