#include "import/ImportSession.h"

#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::import {

const std::array<const char*, 2> ImportSession::kOlderDataQuestions = {
    "全国版：作成日の古いデータを取り込もうとしています。置き換えしますか？",
    "事業所個別版：作成日の古いデータを取り込もうとしています。置き換えしますか？"};

namespace {

constexpr std::array<const char*, 2> kImportPathKeys = {"csvzpath", "csvjpath"};
constexpr std::array<const char*, 2> kBrowseTitleEnds = {"ファイルの選択  (ken_all.csv)",
                                                         "ファイルの選択  (jigyosyo.csv)"};

std::string Without(std::string text, const std::string& part) {
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at)) {
        text.erase(at, part.size());
    }
    return text;
}

// "yyyy年mm月dd日" -> "yyyymmdd".
std::string StampOfDate(const std::string& date) {
    std::string stamp;
    for (char c : date) {
        if (c >= '0' && c <= '9') stamp += c;
    }
    return stamp;
}

}  // namespace

ImportSession::ImportSession(SessionView& view)
    : view_(view), previousView_(mdInport::environment().view) {
    mdInport::environment().view = &view_;
}

ImportSession::~ImportSession() {
    if (mdInport::environment().view == &view_) mdInport::environment().view = previousView_;
}

void ImportSession::load() {
    mdInport::ResetState();
    if (mdFileCreate::strIniFile.empty()) mdFileCreate::SetIniFilePath();
    mdInport::ShowSakuseibi(mdInport::strSakuseibi);
    exitToolTip_ = kExitToolTip;
    view_.setExitToolTip(exitToolTip_);
    mdInport::blnCompact = false;
    readResumePoint();
}

void ImportSession::readResumePoint() {
    const mdInport::ResumeState resume = mdInport::ReadResumePoint();
    view_.setRunToolTip("");
    if (resume.nationalChoiceDisabled) setBrowseEnabled(0, false);
    if (resume.continuation) view_.setRunToolTip(kContinuation);
}

void ImportSession::setBrowseEnabled(int index, bool enabled) {
    browseEnabled_[Index(index)] = enabled;
    view_.setBrowseEnabled(index, enabled);
}

BrowseRequest ImportSession::browse(int index, const std::string& buttonCaption) {
    std::string folder = mdFileCreate::ReadKey(kImportPathKeys[Index(index)]);
    if (!folder.empty()) {
        // A value without a folder part opens the chooser in its default folder.
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
    }
    mdInport::strStartDir = folder;
    mdInport::strSelFile.clear();
    return {folder, Without(buttonCaption, "参照：") + kBrowseTitleEnds[Index(index)]};
}

bool ImportSession::browseResult(int index) {
    if (mdInport::strSelFile.empty()) return false;
    view_.showChosenFile(index, mdInport::strSelFile, mdInport::strSelFileDate);
    mdInport::strCsvDate[Index(index)] = StampOfDate(mdInport::strSelFileDate);
    return true;
}

RunOutcome ImportSession::run() {
    RunOutcome outcome;
    if (running_ || exiting_) return outcome;  // Ignored
    if (view_.csvFileText(0).empty() && view_.csvFileText(1).empty()) {
        view_.tell(kNothingChosen, msgbox::kCritical | msgbox::kOkOnly);
        outcome.result = RunResult::NothingChosen;
        return outcome;
    }
    for (int i = 0; i < 2; ++i) {
        const size_t at = Index(i);
        if (view_.csvFileText(i).empty() || !browseEnabled_[at]) continue;
        // Equal stamps count as older: the registered data is as new as the chosen file.
        if (mdInport::strSakuseibi[at] >= mdInport::strCsvDate[at]) {
            const Question question =
                i == 0 ? Question::ReplaceOlderNational : Question::ReplaceOlderOffice;
            if (!view_.ask(question, kOlderDataQuestions[at],
                           msgbox::kYesNo | msgbox::kDefaultButton2)) {
                outcome.result = RunResult::Declined;
                return outcome;
            }
        }
        setBrowseEnabled(i, false);
    }

    running_ = true;
    try {
        const mdInport::RunReport report = mdInport::InportRun();
        running_ = false;
        outcome.imported = report.imported;
        outcome.officeRefused = report.officeRefused;
    } catch (const YubinError& error) {
        running_ = false;
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
    exitToolTip_ = kCompactExitToolTip;
    view_.setExitToolTip(exitToolTip_);
    mdInport::blnCompact = true;
    outcome.result = RunResult::Finished;
    return outcome;
}

// A run ended by an error leaves the window usable: no engine counts as running, the engine
// that failed may run again (with another file), and the resume threshold is read again, so
// that the rows the failed run wrote are continued and never appended twice.
void ImportSession::recoverFromFailure() {
    const int failed = mdInport::intInportMode - 1;
    mdInport::intInportMode = 0;
    if (failed == 0 || failed == 1) {
        view_.setCountCaption(failed, "");
        setBrowseEnabled(failed, true);
    }
    try {
        // The summary too: data the failed run began to replace is shown incomplete, undated.
        mdInport::ShowSakuseibi(mdInport::strSakuseibi);
        readResumePoint();
    } catch (const YubinError&) {
        // The threshold stays; the next run reports what is wrong with the database.
    }
    mdlYubinBox::CloseMdb();
    if (mdInport::lngResumeRecNo > mdInport::kOfficeRecNoBase) setBrowseEnabled(0, false);
}

ExitOutcome ImportSession::exit(ExitReason reason) {
    ExitOutcome outcome;
    if (exiting_) return outcome;  // Ignored
    if (mdInport::intInportMode != 0) {
        // The click arrived in an engine's event processing: abort, or go back to it. The rows
        // appended so far are stored before the question waits for the person, so that they
        // survive whatever happens while it is open.
        if (reason == ExitReason::User) mdlYubinBox::Flush();
        if (reason == ExitReason::User &&
            !view_.ask(Question::AbortImport, kAbortQuestion,
                       msgbox::kYesNo | msgbox::kQuestion | msgbox::kDefaultButton2)) {
            outcome.result = ExitResult::Cancelled;
            return outcome;
        }
        exiting_ = true;
        mdInport::SaveResumePoint();
        outcome.aborted = true;
    } else {
        exiting_ = true;
        // After a run the connection is released: one is opened for the deletion.
        if (!mdlYubinBox::cnMdb || !mdlYubinBox::cnMdb->isOpen()) {
            mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
        }
        mdInport::ClearResumePoint();
    }
    mdlYubinBox::CloseMdb();
    view_.setStatusMessage(exitToolTip_);
    view_.showPending();
    if (mdInport::blnCompact) {
        mdlYubinBox::CompactMdb(mdlYubinBox::strMdbFile);
        outcome.compacted = true;
    }
    outcome.result = ExitResult::Ended;
    return outcome;
}

}  // namespace yubin::import
