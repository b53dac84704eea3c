// The import: the national and business-office engines, the masters, the run control with
// its resume protocol, and the registered-data summary.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "import/ImportView.h"

namespace yubin::import {
struct ZipGroup;
}

namespace yubin::mdInport {

// Set once the import window has made a run; its exit then compacts the database.
extern bool blnCompact;
// 0 idle, 1 the national engine runs, 2 the business-office engine runs.
extern short intInportMode;
// Resume threshold: 0 for a fresh import; else the highest RECNO of the interrupted kind.
extern long lngResumeRecNo;
// Records completed in the running import; the RECNO of the last one (without 1,000,000).
extern long lngRecCount;
extern std::string strCsvZPath;
extern std::string strCsvJPath;
// Registered stamps "yyyymmdd" (0 national, 1 business office), "" when none.
extern std::array<std::string, 2> strSakuseibi;
// Stamps of the files chosen in the import window.
extern std::array<std::string, 2> strCsvDate;

// The file chooser's result and start folder, shared by the chooser and its callers: the
// chosen full path ("" when cancelled), its date "yyyy年mm月dd日", the folder it opens in.
extern std::string strSelFile;
extern std::string strSelFileDate;
extern std::string strStartDir;

// The border between the national and the business-office RECNO ranges.
inline constexpr long kOfficeRecNoBase = 1'000'000;

// The window the engines report to, the closing pause and the clock. The command line and
// the tests set their own.
struct Environment {
    import::ImportView* view = nullptr;
    double pauseSeconds = 5.0;
    // Monotonic seconds; the elapsed time and the pause are measured with it.
    std::function<double()> monotonicSeconds;
    // Waits a little during the pause, between event processing.
    std::function<void()> idle;
};
Environment& environment();
// The real monotonic clock and a 10 ms idle wait.
double SteadySeconds();

// Shown while a run waits for another program that holds the database.
inline constexpr const char* kWaitingForOtherProgram =
    "他のプログラムがデータベースを使用しています。待機中です…";

// The engines, called by InportRun.
void InportKenAll();
void InportJigyosyo();
// Adds the prefecture and municipality of a completed national group when missing.
void MasterUpdate(const import::ZipGroup& group);
// The rows of 都道府県.
short PrefCount();

// What a run did, as values: the engines that finished, and whether the business-office
// import was refused for want of the national data (the index and key then stay dropped).
struct RunReport {
    std::array<bool, 2> imported{};
    bool officeRefused = false;
};
// The run: drop the index and key, import the chosen files, re-create them, refresh the
// summary. Errors other than those of opening the database pass to the caller.
RunReport InportRun();

// Writes the resume marker for the engine that runs now (the abort).
void SaveResumePoint();

// What the import window learns from the resume marker when it opens.
struct ResumeState {
    long threshold = 0;                   // the new lngResumeRecNo
    bool nationalChoiceDisabled = false;  // the business-office part is to be continued
    bool continuation = false;            // "継続スタートです。"
};
// Reads 登録中 and sets lngResumeRecNo (cnMdb must be open).
ResumeState ReadResumePoint();
// Deletes the resume marker, ignoring any error (cnMdb must be open).
void ClearResumePoint();

// Reads 作成日 into strSakuseibi and shows the summary in the view; opens cnMdb on
// strMdbFile and leaves it open.
void ShowSakuseibi(std::array<std::string, 2>& sakuseibi);
// The summary text for the two stamps ("" when no national and no business-office stamp).
std::string SummaryText(const std::string& nationalStamp, const std::string& officeStamp);

// Texts of the progress and result captions.
std::string FormatPercent(std::uint64_t consumed, std::uint64_t length);  // "( 12.34% )"
std::string FormatElapsed(double seconds);                                // "03分27秒"
std::string FormatCount(long count);                                      // "123,456"
// "yyyymmdd" -> "yyyy年mm月dd日" ("" stays ""; a text that is no date is shown as it is).
std::string FormatStamp(const std::string& stamp);

// Resets the module state, the window's and the file chooser's included (a new import
// window or command-line run, and the tests).
void ResetState();

}  // namespace yubin::mdInport
