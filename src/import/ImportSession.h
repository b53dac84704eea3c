// The import window's protocol without the toolkit: loading, a browse result, 実行, 終了 and
// the close request, shared by the window frmyubinbox and `yubinbox import`.
//
// Each front end keeps its own controls (SessionView) and its way of asking a question; the
// session owns the state of the window and of the run (ImportWindowState), decides what
// happens, tells the view what to show and says what happened in values. Nothing is read
// back from the view.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "base/Error.h"
#include "import/ChosenFile.h"
#include "import/ImportView.h"
#include "import/ProgressDisplay.h"
#include "import/mdInport.h"

namespace yubin::import {

// The questions the session asks; the front end answers each Yes (true) or No.
enum class Question {
    ReplaceOlderNational,  // the registered national data is as new as the chosen file
    ReplaceOlderOffice,    // the same for the business-office data
    AbortImport,           // 終了 while an engine runs
};

// The window's side of the session: the engines' controls plus those of the window itself,
// its questions and its messages.
class SessionView : public ImportView {
  public:
    // cmdCSVFILE(index).
    virtual void setBrowseEnabled(int index, bool enabled) = 0;
    // txtCSVFILE(index) and lblCSVDATE(index) (its caption, then shown) after a choice.
    virtual void showChosenFile(int index, const std::string& path, const std::string& date) = 0;
    // The tool tips of cmdBTN(0) (run) and cmdBTN(1) (exit).
    virtual void setRunToolTip(const std::string& text) = 0;
    virtual void setExitToolTip(const std::string& text) = 0;

    // A Yes/No question (style 260 or 292); true on Yes.
    virtual bool ask(Question question, const std::string& text, int style) = 0;
    // A message with an OK button.
    virtual void tell(const std::string& text, int style) = 0;
    // Lets a text just set show before a long step (the compaction at the exit).
    virtual void showPending() {}
};

// What 実行 came to.
enum class RunResult {
    Ignored,        // a run is in progress (the busy pointer shows)
    NothingChosen,  // both file boxes are empty: the message was shown
    Declined,       // No to a date question: nothing ran
    Finished,       // the run went through (the business-office part may have been refused)
    Aborted,        // 終了 was answered Yes inside an engine: the marker is written
    Stopped,        // 終了 or the close box answered Yes while an engine checked its file, before
                    // anything was changed: the run ended, nothing kept, the window usable
    Failed,         // an error nobody trapped ended the run: no marker written
};

struct RunOutcome {
    RunResult result = RunResult::Ignored;
    // The engines that finished (0 national, 1 business office).
    std::array<bool, 2> imported{};
    // The business-office import was refused for want of the national data.
    bool officeRefused = false;
    // The error of a failed run.
    std::optional<YubinError> error;
    // 終了 or the close box came while a statement waited for another program: the wait gave
    // up, and once the run had ended the exit ran as an abort does. The window is to be
    // unloaded and the program ended.
    bool endedAfterWait = false;
};

// Who asks for the exit.
enum class ExitReason {
    User,        // 終了, the close box
    SessionEnd,  // the session ends (logout, shutdown, a signal): nobody answers a question
};

enum class ExitResult {
    Cancelled,  // No to the abort question: the import goes on, the window stays
    Ignored,    // an exit is already under way
    Deferred,   // asked while a statement waits for another program: the wait gives up, and
                // the run carries the exit out once the statement has returned
    Stopping,   // Yes while the running engine checks its file: nothing has been changed, so
                // nothing is kept for a resume; the run stops and the window stays
    Ended,      // the window is to be unloaded and the program ended
};

struct ExitOutcome {
    ExitResult result = ExitResult::Ignored;
    bool aborted = false;    // an engine was running: the resume marker is written
    bool compacted = false;  // the database was compacted
};

// What the chooser is opened with for a browse button.
struct BrowseRequest {
    std::string startDir;      // the folder of the file imported last ("" for the default)
    std::string title;         // the chooser's title
    std::string expectedFile;  // the one file name the chooser accepts
    DataKind kind = DataKind::Any;
};

// The state of the import window and of its runs, owned by the session.
struct ImportWindowState {
    // A run has been made from this window: the exit compacts the database.
    bool blnCompact = false;
    // Stamps "yyyymmdd" of the files chosen in this window, "" until one is chosen.
    std::array<std::string, 2> strCsvDate;
    // Registered stamps of 作成日, "" when none.
    mdInport::Sakuseibi strSakuseibi;
    // Resume threshold read at loading (and again after a failed run).
    long lngResumeRecNo = 0;
    // The chooser's last result (path, date as shown) and the folder it opened in.
    std::string strSelFile;
    std::string strSelFileDate;
    std::string strStartDir;
    // The chosen files, by index (empty: none chosen).
    std::array<ChosenFile, 2> chosen;
    // The running engine, its count, and the engines that have finished in this window.
    mdInport::ImportProgress progress;
    // cmdCSVFILE(index) enabled.
    std::array<bool, 2> browseEnabled{true, true};
    // The tool tip of 終了, which the exit shows in the status panel.
    std::string exitToolTip;
    // The status text, the bars and count labels as the engines and the session last set them.
    ProgressDisplay display;
};

class ImportSession {
  public:
    // The texts of the session.
    static constexpr const char* kContinuation = TrMark("継続スタートです。");
    static constexpr const char* kExitToolTip = TrMark("プログラムを終了します。");
    static constexpr const char* kCompactExitToolTip =
        TrMark("データベースを最適化して終了します。");
    static constexpr const char* kNothingChosen = TrMark(
        "郵便番号データファイルがどちらも選択されていません。\nどちらかまたは両方を選択してください"
        "。");
    static constexpr const char* kAbortQuestion =
        "郵便番号データを取込中です。\n「いいえ」をクリックすると元の処理に戻ります。\n"
        "「はい」をクリックした（取込中止）場合、次回の処理は自動的に途中から取り込みとなります。\n"
        "取り込みを中止しますか？";
    static const std::array<const char*, 2> kOlderDataQuestions;
    // The data each browse button chooses; its caption is "参照：" and this name.
    static const std::array<const char*, 2> kDataNames;
    static constexpr const char* kBrowsePrefix = "参照：";
    // Told when, by the time the run held the database, another import had left a
    // business-office import to be continued: the national file may not be imported now.
    static constexpr const char* kNationalRefusedWhileOfficePending = TrMark(
        "他のプログラムが事業所個別郵便番号データの取り込みを途中で中止しました。\n"
        "全国版郵便番号データは取り込めません。事業所個別郵便番号データだけで継続してください。");
    // The file each browse button expects.
    static const std::array<const char*, 2> kExpectedFiles;

    // The engines report to the view for the session's life.
    explicit ImportSession(SessionView& view);
    ImportSession(const ImportSession&) = delete;
    ImportSession& operator=(const ImportSession&) = delete;

    // The closing pause and the clock of the engines (the view is the session's).
    mdInport::Environment& environment() { return environment_; }

    // Loading: the state made fresh, the registered dates shown (strMdbFile must be set), the
    // resume marker read, the tool tips and the national browse button set. Errors pass to
    // the caller.
    void load();

    // A browse button: the start folder from the settings key of the file imported last,
    // strSelFile emptied, and what the chooser is opened with.
    BrowseRequest browse(int index);
    // The chooser has closed, with the file chosen or nothing (cancelled): a chosen file is
    // kept and shown with its date. Returns whether a file was chosen.
    bool browseResult(int index, const std::optional<ChosenFile>& chosen);

    // 実行.
    RunOutcome run();
    // 終了, or a close request that is not the window's own unloading.
    ExitOutcome exit(ExitReason reason);

    const ImportWindowState& state() const { return state_; }
    bool running() const { return running_; }
    bool exiting() const { return exiting_; }
    // An exit was asked for while a statement waited, or the run is to stop before its engine
    // changes anything: the engine must not go on.
    bool engineMustStop() const {
        return running_ && (exitAfterWait_.has_value() || stopBeforeChange_);
    }
    bool browseEnabled(int index) const { return state_.browseEnabled[Index(index)]; }
    const std::string& exitToolTip() const { return state_.exitToolTip; }

  private:
    static size_t Index(int index) { return index == 0 ? 0 : 1; }
    void setBrowseEnabled(int index, bool enabled);
    void readResumePoint();
    void applyResumeState(const mdInport::ResumeState& resume);
    // Under the run's import lock, when another import changed what 実行 decided from: the
    // state taken over, the national file refused while a business-office import is to be
    // continued, a date question asked again where the registered date changed. False ends the
    // run before anything is written.
    bool decideAgain(const mdInport::DecisionBasis& now);
    // After a run that decideAgain ended: the choices may be made again.
    void reopenChoices();
    void keepSakuseibi(const mdInport::Sakuseibi& stamps);
    // The date questions of 実行; false on a No.
    bool confirmChosenFiles();
    // The date question of one chosen file, when the registered data is as new as it; false on
    // a No.
    bool confirmChosenFile(int index);
    mdInport::RunRequest runRequest();
    // The abort question of 終了 while an engine runs or waits; true on Yes.
    bool askAbort();
    // The person's 終了 while an engine runs or waits: Cancelled on a No to the abort question;
    // during the engine's check, Stopping on a Yes (the run stops with nothing changed);
    // nothing when the exit is to go on (a Yes past the check, or the session's end).
    std::optional<ExitResult> answerAbort(ExitReason reason, bool checking);
    ExitOutcome endExit(ExitOutcome outcome);
    void recoverFromFailure();
    // A run has been made from this window: the exit compacts the database.
    void markRunMade();
    // The run's wait tick: lets the window's events run while a statement waits for another
    // program; false once an exit was asked for. Never uses the database, never throws.
    bool keepWaiting() noexcept;
    // The exit asked for during a wait, after the run has ended: the resume marker written
    // (when an engine was running past its check), the connection closed, the compaction of
    // an earlier run.
    ExitOutcome finishExitAfterWait();
    // 終了 with no engine running: the marker deleted, the connection closed, the compaction
    // after a run.
    ExitOutcome idleExit();
    class ExitWait;

    SessionView& view_;
    mdInport::Environment environment_;
    ImportWindowState state_;
    // The engines' view: what they show is kept in state_.display.
    RecordedView recorded_;
    bool running_ = false;
    bool exiting_ = false;
    bool inWait_ = false;  // inside keepWaiting: nothing may use the database
    std::optional<ExitReason> exitAfterWait_;
    // 終了 answered Yes during the running engine's check: the run stops with nothing changed.
    bool stopBeforeChange_ = false;
    // Inside the tick of a wait of the exit's own statements, and whether a further exit
    // request has given that wait up.
    bool inExitWait_ = false;
    bool exitWaitGivenUp_ = false;
};

}  // namespace yubin::import
