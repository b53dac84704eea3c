// The import window's controls as the command line shows them: messages on standard output,
// progress on standard error (a live bar on a terminal, periodic plain lines otherwise).
#pragma once

#include <signal.h>
#include <array>

#include <csignal>
#include <string>

#include "base/Translation.h"
#include "import/ImportSession.h"

namespace yubin::cli {

// What an import that a signal aborted says.
inline constexpr const char* kAbortedMessage =
    TrMark("取り込みを中止しました。次回の取り込みは途中から継続します。");

// Set by SIGINT and SIGTERM while an import runs; read by the event processing.
extern volatile std::sig_atomic_t g_abortRequested;

class CliImportView : public import::SessionView {
  public:
    // terminal: standard error is a terminal; yes: --yes answers the date questions.
    CliImportView(bool terminal, bool yes);

    // The session whose 終了 a signal inside an engine runs.
    void attach(import::ImportSession& session) { session_ = &session; }

    void setStatusMessage(const std::string& text) override;
    void setProgressVisible(int, bool) override {}
    void setProgressRange(int index, std::uint64_t minimum, std::uint64_t maximum) override;
    void setProgressValue(int index, std::uint64_t value) override;
    void setCountVisible(int, bool) override {}
    void setCountBorderStyle(int, int) override {}
    void setCountCaption(int index, const std::string& caption) override;
    void importFinished(int index) override;
    void setRunEnabled(bool) override {}
    void setSummaryCaption(const std::string& caption) override { summary_ = caption; }
    void setSummaryVisible(bool) override {}
    void setBusyPointer(bool) override {}
    void beep() override {}
    int messageBox(const std::string& text, int style, const std::string& title) override;
    void doEvents() override;
    Translator language() const override { return Translated; }

    void setBrowseEnabled(int, bool) override {}
    void showChosenFile(int, const std::string&, const std::string&) override {}
    void setRunToolTip(const std::string& text) override;
    void setExitToolTip(const std::string&) override {}
    bool ask(import::Question question, const std::string& text, int style) override;
    void tell(const std::string& text, int style) override;

    const std::string& summary() const { return summary_; }

  private:
    static size_t Index(int index) { return index == 0 ? 0 : 1; }
    void drawProgress(bool final);

    std::array<std::string, 2> captions_;
    std::array<std::uint64_t, 2> maximum_{};
    std::array<std::uint64_t, 2> value_{};
    std::string summary_;
    bool terminal_;
    int active_ = -1;      // the engine whose progress shows
    double lastDraw_ = 0;  // when the progress was last shown
    int lastDecile_ = -1;  // plain output: the last tenth reported
    unsigned eventCount_ = 0;
    bool yes_;
    import::ImportSession* session_ = nullptr;
};

// Installs the abort handlers for SIGINT and SIGTERM for the life of the object.
class AbortSignalScope {
  public:
    AbortSignalScope();
    ~AbortSignalScope();
    AbortSignalScope(const AbortSignalScope&) = delete;
    AbortSignalScope& operator=(const AbortSignalScope&) = delete;

  private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace yubin::cli
