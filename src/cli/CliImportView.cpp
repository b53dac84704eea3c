#include "cli/CliImportView.h"

#include <cstdio>
#include <iostream>

#include <unistd.h>

#include "base/Error.h"
#include "base/Message.h"
#include "import/mdInport.h"
#include "store/mdlYubinBox.h"

namespace yubin::cli {

volatile std::sig_atomic_t g_abortRequested = 0;

namespace {

extern "C" void OnAbortSignal(int) { g_abortRequested = 1; }

// Progress is shown at most this often on a terminal.
constexpr double kDrawInterval = 0.1;

}  // namespace

AbortSignalScope::AbortSignalScope() {
    g_abortRequested = 0;
    struct sigaction action {};
    action.sa_handler = OnAbortSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
}

AbortSignalScope::~AbortSignalScope() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
}

CliImportView::CliImportView(bool terminal, bool yes) : terminal_(terminal), yes_(yes) {}

void CliImportView::setStatusMessage(const std::string& text) {
    if (active_ >= 0) drawProgress(true);
    if (!text.empty()) std::cout << Tr(text) << std::endl;
}

void CliImportView::setProgressRange(int index, std::uint64_t, std::uint64_t maximum) {
    active_ = static_cast<int>(Index(index));
    maximum_[Index(index)] = maximum;
    value_[Index(index)] = 0;
    lastDecile_ = -1;
    lastDraw_ = 0;
}

void CliImportView::setProgressValue(int index, std::uint64_t value) {
    value_[Index(index)] = value;
}

void CliImportView::setCountCaption(int index, const std::string& caption) {
    captions_[Index(index)] = caption;
}

void CliImportView::importFinished(int index) {
    active_ = -1;
    std::cout << Format(index == 0 ? Tr("全国版: {1}") : Tr("事業所個別版: {1}"),
                        captions_[Index(index)])
              << std::endl;
}

void CliImportView::setRunToolTip(const std::string& text) {
    if (!text.empty()) std::cout << Tr(text) << std::endl;
}

// The date questions: y/N on a terminal, refused without one unless --yes. The abort question
// is asked only when a signal has come, which is the answer Yes.
bool CliImportView::ask(import::Question question, const std::string& text, int) {
    if (question == import::Question::AbortImport) return true;
    if (yes_) return true;
    if (!isatty(STDIN_FILENO)) {
        std::cerr << Tr(text) << '\n'
                  << Tr("（端末がないため中止しました。置き換えるには --yes）") << std::endl;
        return false;
    }
    std::cerr << Tr(text) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "はい";
}

void CliImportView::tell(const std::string& text, int) { std::cerr << Tr(text) << std::endl; }

void CliImportView::drawProgress(bool final) {
    const size_t i = static_cast<size_t>(active_);
    const std::uint64_t maximum = maximum_[i];
    const double fraction =
        maximum == 0 ? 1.0 : static_cast<double>(value_[i]) / static_cast<double>(maximum);
    const long records = session_ != nullptr ? session_->state().progress.lngRecCount : 0;
    const std::string count = Format(Tr("{1} 件"), mdInport::FormatCount(records));
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(fraction * kWidth);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(kWidth - filled), '.');
        std::fprintf(stderr, "\r[%s] %s  %s ", bar.c_str(), captions_[i].c_str(), count.c_str());
        if (final) std::fputc('\n', stderr);
        std::fflush(stderr);
        return;
    }
    // Plain output: one line at every tenth of the file.
    const int decile = static_cast<int>(fraction * 10);
    if (decile == lastDecile_) return;
    lastDecile_ = decile;
    std::fprintf(stderr, "%s %s\n", captions_[i].c_str(), count.c_str());
    std::fflush(stderr);
}

int CliImportView::messageBox(const std::string& text, int style, const std::string& title) {
    std::cerr << (title.empty() ? "" : Tr(title) + ": ") << Tr(text) << std::endl;
    return (style & import::msgbox::kYesNo) ? import::msgbox::kAnswerNo : import::msgbox::kAnswerOk;
}

void CliImportView::doEvents() {
    if (g_abortRequested && session_ != nullptr && session_->state().progress.intInportMode != 0) {
        if (active_ >= 0) drawProgress(true);
        // The signal is 終了 answered Yes: the marker is written and the engine never goes on.
        session_->exit(import::ExitReason::SessionEnd);
        throw YubinError(ErrorCode::ImportAborted, Message(kAbortedMessage));
    }
    if (active_ < 0 || (++eventCount_ & 0xFF) != 0) return;
    if (terminal_) {
        const double now = mdInport::SteadySeconds();
        if (now - lastDraw_ < kDrawInterval) return;
        lastDraw_ = now;
    }
    drawProgress(false);
}

}  // namespace yubin::cli
