// The import: the national and business-office engines, the masters, the run control with
// its resume protocol, and the registered-data summary.
//
// The engines keep no state between calls: each takes a request (the file, the resume
// threshold, where to report) and updates the progress its caller owns (the import session),
// which the abort reads from inside the engine's event processing.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/Translation.h"
#include "import/ImportView.h"

namespace yubin::import {
struct ZipGroup;
}

namespace yubin::mdInport {

// The border between the national and the business-office RECNO ranges.
inline constexpr long kOfficeRecNoBase = 1'000'000;
// Index 0 is always the national data, index 1 the business-office data.
inline constexpr int kNational = 0;
inline constexpr int kOffice = 1;

// The real monotonic clock, in seconds.
double SteadySeconds();

// Where the engines report, the closing pause and the clock. The window, the command line and
// the tests each set their own.
struct Environment {
    import::ImportView* view = nullptr;
    double pauseSeconds = 5.0;
    // Monotonic seconds; the elapsed time and the pause are measured with it.
    std::function<double()> monotonicSeconds = &SteadySeconds;
    // Waits a little during the pause, between event processing (10 ms).
    std::function<void()> idle = &IdleBriefly;

    static void IdleBriefly();
};

// The state of the import that runs now, owned by whoever started the run and updated by the
// engines as they go.
struct ImportProgress {
    // 0 idle, 1 the national engine runs, 2 the business-office engine runs.
    short intInportMode = 0;
    // Records completed in the running import; the RECNO of the last one (without 1,000,000).
    long lngRecCount = 0;
    // The running engine reads its file through and checks it, before it has changed
    // anything: an abort now has nothing to keep for a resume. Left set when the check ends
    // the run (an error, an abort), until the one who started the run resets the progress.
    bool checking = false;
    // The engines that have finished (their count labels show the result): a later run does
    // not import that data again.
    std::array<bool, 2> finished{};
    // Left by a national engine that replaced its data set, for the business-office engine of
    // the same run: every row that engine deletes lies at or below `rowid` of ZIPALL, while the
    // connection's data version (which another connection's commit changes) is still
    // `dataVersion`. Each run starts without it.
    struct OfficeRowsBound {
        long long rowid = 0;
        long long dataVersion = 0;
    };
    std::optional<OfficeRowsBound> officeRowsBound;
};

// One engine's job.
struct EngineRequest {
    std::string file;         // strCsvZPath or strCsvJPath: the data file to import
    long lngResumeRecNo = 0;  // 0 for a fresh import; else the highest RECNO already written
    Environment environment;
};

// The registered stamps "yyyymmdd" of 作成日 (0 national, 1 business office), "" when none.
using Sakuseibi = std::array<std::string, 2>;

// What the import window learns from the resume marker when it opens.
struct ResumeState {
    long threshold = 0;                   // the new lngResumeRecNo
    bool nationalChoiceDisabled = false;  // the business-office part is to be continued
    bool continuation = false;            // "継続スタートです。"
    bool operator==(const ResumeState&) const = default;
};

// What the decisions before a run rest on: the resume point and the registered stamps. The
// window reads them when it loads; the run reads them again once it holds the import lock.
struct DecisionBasis {
    ResumeState resume;
    Sakuseibi stamps;
    bool operator==(const DecisionBasis&) const = default;
};

// One run of both engines.
struct RunRequest {
    // The file each engine is to import, asked when that engine's turn comes ("" for none): a
    // file chosen while an earlier engine runs is imported by the same run.
    std::function<std::string(int index)> fileToImport;
    // What the caller decided from. The engines always start from the resume point read under
    // the import lock; when that basis differs from this one (another program imported into
    // the database meanwhile), `decideAgain` is asked first, and false ends the run before
    // anything is deleted or appended. Without it the run goes on from the point it read.
    DecisionBasis decidedFrom;
    std::function<bool(const DecisionBasis& now)> decideAgain;
    Environment environment;
    // While a statement of the run waits for another program: told at every step of the wait
    // (db::setWaitTick), false gives the wait up. Never uses the database, never throws.
    std::function<bool()> keepWaiting;
};

// Shown while a run waits for another program that holds the database.
inline constexpr const char* kWaitingForOtherProgram =
    TrMark("他のプログラムがデータベースを使用しています。待機中です…");

// The engines, called by InportRun.
void InportKenAll(const EngineRequest& request, ImportProgress& progress);
void InportJigyosyo(const EngineRequest& request, ImportProgress& progress);

// The codes last handed to the masters during one national import.
struct LastMasterCodes {
    std::string prefCode;
    std::string cityCode;
};
// Adds the prefecture and municipality of a completed national group when missing.
void MasterUpdate(const import::ZipGroup& group, LastMasterCodes& last);
// The rows of 都道府県.
short PrefCount();

// What a run did, as values: the engines that finished in it, whether the business-office
// import was refused for want of the national data (the index and key then stay dropped), and
// the registered stamps read afterwards.
struct RunReport {
    std::array<bool, 2> imported{};
    bool officeRefused = false;
    // decideAgain said no: nothing was imported.
    bool declined = false;
    Sakuseibi strSakuseibi;
};
// The run: drop the index and key, import the chosen files, re-create them, refresh the
// summary. Errors other than those of opening the database pass to the caller.
RunReport InportRun(const RunRequest& request, ImportProgress& progress);

// Writes the resume marker for the engine that runs now (the abort).
void SaveResumePoint(const ImportProgress& progress);

// For an exit that comes while an engine runs, before it looks at `checking` or flushes: a
// running engine whose file is still being checked, beside work it holds uncommitted, has the
// check read to its end (without event processing) and the work committed, or undone when the
// file is at fault. The exit then finds no transaction of the engine open, and `checking`
// says whether anything was kept. Nothing to do otherwise (a check merely waited for has
// changed nothing).
void SettleFileCheck();

// Reads 登録中 and the highest RECNO of the interrupted kind (cnMdb must be open).
ResumeState ReadResumePoint();
// Deletes the resume marker, ignoring any error (cnMdb must be open).
void ClearResumePoint();

// Reads 作成日 and shows the summary in the view; opens cnMdb on strMdbFile and leaves it
// open. Returns the stamps.
Sakuseibi ShowSakuseibi(import::ImportView& view);
// The same on the connection that is open (cnMdb), which keeps its import lock.
Sakuseibi ShowSakuseibiOpen(import::ImportView& view);
// The summary's heading and the labels of its dates.
inline constexpr const char* kSummaryHeading =
    TrMark("【現在、登録されている郵便番号データの作成日】");
inline constexpr const char* kNationalSummaryLabel = TrMark("　全国版郵便番号データ　　　： ");
inline constexpr const char* kOfficeSummaryLabel = TrMark("　事業所個別郵便番号データ　： ");
// The summary text for the two stamps ("" when no national and no business-office stamp).
// `translate` gives the language (Translation.h): the windows keep the Japanese.
std::string SummaryText(const std::string& nationalStamp, const std::string& officeStamp,
                        Translator translate = Untranslated);

// Texts of the progress and result captions.
std::string FormatPercent(std::uint64_t consumed, std::uint64_t length);  // "( 12.34% )"
// FormatPercent in two steps: the hundredths of a percent it shows, and their text.
std::uint64_t PercentHundredths(std::uint64_t consumed, std::uint64_t length);
std::string FormatPercentHundredths(std::uint64_t hundredths);
std::string FormatElapsed(double seconds, Translator translate = Untranslated);  // "03分27秒"
std::string FormatCount(long count);                                             // "123,456"
// "yyyymmdd" -> "yyyy年mm月dd日" ("" stays ""; a text that is no date is shown as it is).
std::string FormatStamp(const std::string& stamp, Translator translate = Untranslated);

}  // namespace yubin::mdInport
