#include "import/ImportSession.h"

#include "base/Memory.h"
#include "changes/ChangeReport.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::import {

const std::array<const char*, 2> ImportSession::kOlderDataQuestions = {
    TrMark("全国版：作成日の古いデータを取り込もうとしています。置き換えしますか？"),
    TrMark("事業所個別版：作成日の古いデータを取り込もうとしています。置き換えしますか？")};
const std::array<const char*, 2> ImportSession::kDataNames = {"全国版郵便番号データ(&K)",
                                                              "事業所個別郵便番号データ(&J)"};
const std::array<const char*, 2> ImportSession::kExpectedFiles = {"ken_all.csv", "jigyosyo.csv"};

namespace {

constexpr std::array<const char*, 2> kImportPathKeys = {"csvzpath", "csvjpath"};
constexpr std::array<DataKind, 2> kKinds = {DataKind::National, DataKind::Office};

}  // namespace

ImportSession::ImportSession(SessionView& view) : view_(view), recorded_(view, state_.display) {
    environment_.view = &recorded_;
}

void ImportSession::load() {
    state_ = ImportWindowState();
    if (mdFileCreate::strIniFile.empty()) mdFileCreate::SetIniFilePath();
    keepSakuseibi(mdInport::ShowSakuseibi(view_));
    state_.exitToolTip = kExitToolTip;
    view_.setExitToolTip(state_.exitToolTip);
    state_.blnCompact = false;
    readResumePoint();
}

// The registered stamps as 作成日 holds them now; a kind that is not all there has none, so
// nothing chosen counts as older than it.
void ImportSession::keepSakuseibi(const mdInport::Sakuseibi& stamps) {
    state_.strSakuseibi = stamps;
}

void ImportSession::readResumePoint() { applyResumeState(mdInport::ReadResumePoint()); }

void ImportSession::applyResumeState(const mdInport::ResumeState& resume) {
    state_.lngResumeRecNo = resume.threshold;
    view_.setRunToolTip("");
    if (resume.nationalChoiceDisabled) setBrowseEnabled(0, false);
    if (resume.continuation) view_.setRunToolTip(kContinuation);
}

void ImportSession::setBrowseEnabled(int index, bool enabled) {
    state_.browseEnabled[Index(index)] = enabled;
    view_.setBrowseEnabled(index, enabled);
}

BrowseRequest ImportSession::browse(int index) {
    const size_t at = Index(index);
    std::string folder = mdFileCreate::ReadKey(kImportPathKeys[at]);
    if (!folder.empty()) {
        // A value without a folder part opens the chooser in its default folder.
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
    }
    state_.strStartDir = folder;
    state_.strSelFile.clear();
    // During a run the rows appended so far are stored before the chooser waits for the person.
    // (Not while a statement waits for another program: the store is busy inside it.)
    if (state_.progress.intInportMode != 0 && !inWait_) mdlYubinBox::Flush();
    const std::string expected = kExpectedFiles[at];
    return {folder, std::string(kDataNames[at]) + "ファイルの選択  (" + expected + ")", expected,
            kKinds[at]};
}

bool ImportSession::browseResult(int index, const std::optional<ChosenFile>& chosen) {
    if (!chosen || chosen->empty()) return false;
    const size_t at = Index(index);
    state_.strSelFile = chosen->path;
    state_.strSelFileDate = chosen->displayDate;
    state_.chosen[at] = *chosen;
    state_.strCsvDate[at] = chosen->stamp;
    view_.showChosenFile(index, chosen->path, chosen->displayDate);
    return true;
}

bool ImportSession::confirmChosenFile(int index) {
    const size_t at = Index(index);
    // Equal stamps count as older: the registered data is as new as the chosen file.
    if (state_.strSakuseibi[at] < state_.strCsvDate[at]) return true;
    const Question question =
        index == 0 ? Question::ReplaceOlderNational : Question::ReplaceOlderOffice;
    return view_.ask(question, kOlderDataQuestions[at], msgbox::kYesNo | msgbox::kDefaultButton2);
}

bool ImportSession::confirmChosenFiles() {
    for (int i = 0; i < 2; ++i) {
        const size_t at = Index(i);
        if (state_.chosen[at].empty() || !state_.browseEnabled[at]) continue;
        if (!confirmChosenFile(i)) return false;
        setBrowseEnabled(i, false);
    }
    return true;
}

bool ImportSession::decideAgain(const mdInport::DecisionBasis& now) {
    const mdInport::Sakuseibi before = state_.strSakuseibi;
    keepSakuseibi(now.stamps);
    applyResumeState(now.resume);
    const auto toImport = [this](int index) {
        const size_t at = Index(index);
        return !state_.chosen[at].empty() && !state_.progress.finished[at];
    };
    if (now.resume.nationalChoiceDisabled && toImport(0)) {
        view_.tell(kNationalRefusedWhileOfficePending, msgbox::kCritical | msgbox::kOkOnly);
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        const size_t at = Index(i);
        if (toImport(i) && now.stamps[at] != before[at] && !confirmChosenFile(i)) return false;
    }
    return true;
}

void ImportSession::reopenChoices() {
    const bool officePending = state_.lngResumeRecNo > mdInport::kOfficeRecNoBase;
    for (int i = 0; i < 2; ++i) {
        setBrowseEnabled(i, !state_.progress.finished[Index(i)] && !(i == 0 && officePending));
    }
}

// Each engine imports the file chosen for it, unless it has finished in this window already;
// a file chosen while an earlier engine runs is taken when its turn comes.
mdInport::RunRequest ImportSession::runRequest() {
    mdInport::RunRequest request;
    request.fileToImport = [this](int index) {
        const size_t at = Index(index);
        return state_.progress.finished[at] ? std::string() : state_.chosen[at].path;
    };
    request.decidedFrom = {
        {state_.lngResumeRecNo, state_.lngResumeRecNo > mdInport::kOfficeRecNoBase,
         state_.lngResumeRecNo != 0},
        state_.strSakuseibi};
    request.decideAgain = [this](const mdInport::DecisionBasis& now) { return decideAgain(now); };
    request.environment = environment_;
    request.keepWaiting = [this] { return keepWaiting(); };
    return request;
}

RunOutcome ImportSession::run() {
    RunOutcome outcome;
    if (running_ || exiting_) return outcome;  // Ignored
    if (state_.chosen[0].empty() && state_.chosen[1].empty()) {
        view_.tell(kNothingChosen, msgbox::kCritical | msgbox::kOkOnly);
        outcome.result = RunResult::NothingChosen;
        return outcome;
    }
    if (!confirmChosenFiles()) {
        outcome.result = RunResult::Declined;
        return outcome;
    }

    running_ = true;
    exitAfterWait_.reset();
    stopBeforeChange_ = false;
    try {
        const mdInport::RunReport report = mdInport::InportRun(runRequest(), state_.progress);
        running_ = false;
        if (exitAfterWait_) {
            outcome.result = RunResult::Aborted;
            outcome.endedAfterWait = finishExitAfterWait().result == ExitResult::Ended;
            return outcome;
        }
        outcome.imported = report.imported;
        outcome.officeRefused = report.officeRefused;
        keepSakuseibi(report.strSakuseibi);
        if (report.declined) {
            reopenChoices();
            outcome.result = RunResult::Declined;
            return outcome;
        }
    } catch (const YubinError& error) {
        running_ = false;
        if (exitAfterWait_) {
            // The statement that waited has returned: the exit asked for meanwhile runs now.
            outcome.result = RunResult::Aborted;
            outcome.endedAfterWait = finishExitAfterWait().result == ExitResult::Ended;
            return outcome;
        }
        if (stopBeforeChange_) {
            // Stopped during an engine's check: that engine's data is as the run found it, and
            // the window as after a failed run, without an error to tell. An engine that
            // finished before it counts as a run made from this window.
            stopBeforeChange_ = false;
            recoverFromFailure();
            if (state_.progress.finished[0] || state_.progress.finished[1]) markRunMade();
            outcome.result = RunResult::Stopped;
            return outcome;
        }
        if (error.code() == ErrorCode::ImportAborted || exiting_) {
            outcome.result = RunResult::Aborted;
            return outcome;
        }
        recoverFromFailure();
        outcome.result = RunResult::Failed;
        outcome.error = error;
        return outcome;
    } catch (...) {
        running_ = false;
        throw;
    }
    markRunMade();
    outcome.result = RunResult::Finished;
    return outcome;
}

void ImportSession::markRunMade() {
    state_.exitToolTip = kCompactExitToolTip;
    view_.setExitToolTip(state_.exitToolTip);
    state_.blnCompact = true;
}

// A run ended by an error leaves the window usable and showing what it is: no engine counts as
// running or shows progress, every file not imported in this window may be chosen again, and
// the resume threshold is read again, so that the rows the failed run wrote are continued and
// never appended twice.
void ImportSession::recoverFromFailure() {
    const int failed = state_.progress.intInportMode - 1;
    state_.progress.intInportMode = 0;
    state_.progress.checking = false;
    if (failed == 0 || failed == 1) state_.progress.finished[Index(failed)] = false;
    recorded_.showFailedRunEnded(failed);
    try {
        // The summary too: data the failed run began to replace is shown incomplete, undated.
        keepSakuseibi(mdInport::ShowSakuseibi(view_));
        readResumePoint();
    } catch (const YubinError&) {
        // The threshold stays; the next run reports what is wrong with the database.
    }
    mdlYubinBox::CloseMdb();
    reopenChoices();
}

bool ImportSession::keepWaiting() noexcept {
    if (exitAfterWait_ || stopBeforeChange_) return false;
    inWait_ = true;
    try {
        view_.doEvents();
    } catch (...) {
        // The view's way of saying that an exit is pending; the wait gives up below.
    }
    inWait_ = false;
    return !exitAfterWait_ && !stopBeforeChange_;
}

// While a statement of the exit waits for another program, for the life of the object: the
// window's events run at every step of the wait, the status panel says that it waits (and
// then shows the exit's text), and, when `mayGiveUp`, a further 終了 or close request gives
// the wait up, so that the statement fails at once. The tick and reporter in place before
// come back after it.
class ImportSession::ExitWait {
  public:
    ExitWait(ImportSession& session, bool mayGiveUp)
        : outerTick_(db::setWaitTick([&session, mayGiveUp] {
              if (mayGiveUp && session.exitWaitGivenUp_) return false;
              session.inExitWait_ = true;
              try {
                  session.view_.doEvents();
              } catch (...) {
              }
              session.inExitWait_ = false;
              return !(mayGiveUp && session.exitWaitGivenUp_);
          })),
          outerReporter_(db::setWaitReporter([&session](bool waiting) {
              session.recorded_.setStatusMessage(waiting ? mdInport::kWaitingForOtherProgram
                                                         : session.state_.exitToolTip);
          })),
          // A long statement of the exit (the compaction) lets the window live as a wait
          // does; a further 終了 there is ignored and the statement always ends.
          outerProgressTick_(db::setProgressTick([&session] {
              session.inExitWait_ = true;
              try {
                  session.view_.doEvents();
              } catch (...) {
              }
              session.inExitWait_ = false;
          })) {}
    ~ExitWait() {
        db::setProgressTick(std::move(outerProgressTick_));
        db::setWaitReporter(std::move(outerReporter_));
        db::setWaitTick(std::move(outerTick_));
    }
    ExitWait(const ExitWait&) = delete;
    ExitWait& operator=(const ExitWait&) = delete;

  private:
    db::WaitTick outerTick_;
    db::WaitReporter outerReporter_;
    db::ProgressTick outerProgressTick_;
};

bool ImportSession::askAbort() {
    return view_.ask(Question::AbortImport, kAbortQuestion,
                     msgbox::kYesNo | msgbox::kQuestion | msgbox::kDefaultButton2);
}

// The end of every exit: the connection released, the exit's text shown, the database
// compacted after a run.
ExitOutcome ImportSession::endExit(ExitOutcome outcome) {
    // An exit from inside an engine ends the program there: what reads beside the engine stops
    // before the connection closes and the compaction looks for other readers of the file.
    changes::StopReadingAhead();
    mdlYubinBox::CloseMdb();
    recorded_.setStatusMessage(state_.exitToolTip);
    view_.showPending();
    if (state_.blnCompact) {
        // What the run freed is given back before the compaction fills its caches.
        ReleaseFreeMemory();
        mdlYubinBox::CompactMdb(mdlYubinBox::strMdbFile, db::CompactionNeed::OnlyToReclaimSpace);
        outcome.compacted = true;
    }
    outcome.result = ExitResult::Ended;
    return outcome;
}

ExitOutcome ImportSession::finishExitAfterWait() {
    ExitOutcome outcome;
    exiting_ = true;
    // The marker is what lets the next run continue: its wait is not given up.
    const ExitWait wait(*this, false);
    // The run released the connection, storing every row appended. The marker follows the
    // engine that was running; between the engines, and during an engine's check (nothing
    // written yet), it is left as it is.
    if (state_.progress.intInportMode != 0 && !state_.progress.checking) {
        mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
        mdInport::SaveResumePoint(state_.progress);
        outcome.aborted = true;
    }
    return endExit(outcome);
}

std::optional<ExitResult> ImportSession::answerAbort(ExitReason reason, bool checking) {
    if (reason != ExitReason::User) return std::nullopt;
    if (!askAbort()) return ExitResult::Cancelled;
    if (checking) {
        stopBeforeChange_ = true;
        return ExitResult::Stopping;
    }
    return std::nullopt;
}

ExitOutcome ImportSession::exit(ExitReason reason) {
    ExitOutcome outcome;
    if (inExitWait_) {
        // The exit under way waits for another program: asked again, it waits no longer.
        exitWaitGivenUp_ = true;
        return outcome;  // Ignored
    }
    if (exiting_ || exitAfterWait_ || stopBeforeChange_) return outcome;  // Ignored
    // During an engine's check nothing has been changed yet: the person's Yes stops the run
    // and the window stays; the session's end ends the program with the database as it was.
    const auto checking = [this] {
        return state_.progress.intInportMode != 0 && state_.progress.checking;
    };
    if (inWait_) {
        // A statement waits for another program inside the store, where nothing may use the
        // database: the wait gives up, and the run carries the exit out once it has returned.
        if (const std::optional<ExitResult> answer = answerAbort(reason, checking())) {
            outcome.result = *answer;
            return outcome;
        }
        exitAfterWait_ = reason;
        outcome.result = ExitResult::Deferred;
        return outcome;
    }
    if (state_.progress.intInportMode == 0) return idleExit();
    // The click arrived in an engine's event processing: abort, or go back to it. An engine
    // still checking its file beside uncommitted work has the check end first (a moment): the
    // work is then committed, or undone, and `checking` says which. The rows appended so far
    // are stored before the question waits for the person, so that they survive whatever
    // happens while it is open, and no lock of ours outlasts the question.
    mdInport::SettleFileCheck();
    const bool checkingNow = checking();
    if (reason == ExitReason::User) mdlYubinBox::Flush();
    if (const std::optional<ExitResult> answer = answerAbort(reason, checkingNow)) {
        outcome.result = *answer;
        return outcome;
    }
    exiting_ = true;
    if (!checkingNow) {
        mdInport::SaveResumePoint(state_.progress);
        outcome.aborted = true;
    }
    return endExit(outcome);
}

ExitOutcome ImportSession::idleExit() {
    exiting_ = true;
    exitWaitGivenUp_ = false;
    // The marker's deletion ignores its errors: given up, or waited out, it leaves a pending
    // resume to the next run. A compaction that cannot wait is the exit's error.
    const ExitWait wait(*this, true);
    // After a run the connection is released: one is opened for the deletion.
    if (!mdlYubinBox::cnMdb || !mdlYubinBox::cnMdb->isOpen()) {
        mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
    }
    mdInport::ClearResumePoint();
    return endExit(ExitOutcome());
}

}  // namespace yubin::import
