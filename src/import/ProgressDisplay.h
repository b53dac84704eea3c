// What the import window's progress display shows: the status text, each engine's bar and
// count label. The session keeps it as part of its state, so that after a run it can put the
// display back into the state the window is really in rather than where a run stopped.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "import/ImportView.h"

namespace yubin::import {

struct ProgressDisplay {
    std::string statusMessage;
    // ProgressBar1 / ProgressBar2 and MCOUNT / JCOUNT, by index.
    std::array<bool, 2> barVisible{};
    std::array<std::uint64_t, 2> barValue{};
    std::array<bool, 2> countVisible{};
    std::array<int, 2> countBorderStyle{};
    std::array<std::string, 2> countCaption;
    // cmdBTN(0).
    bool runEnabled = true;

    bool operator==(const ProgressDisplay&) const = default;
};

// The view the engines are given: each change of the progress display is kept in `display`
// and passed on to `view`; everything else is passed on unchanged.
class RecordedView final : public ImportView {
  public:
    RecordedView(ImportView& view, ProgressDisplay& display) : view_(view), display_(display) {}

    void setStatusMessage(const std::string& text) override;
    void setProgressVisible(int index, bool visible) override;
    void setProgressRange(int index, std::uint64_t minimum, std::uint64_t maximum) override {
        view_.setProgressRange(index, minimum, maximum);
    }
    void setProgressValue(int index, std::uint64_t value) override;
    void setCountVisible(int index, bool visible) override;
    void setCountBorderStyle(int index, int borderStyle) override;
    void setCountCaption(int index, const std::string& caption) override;
    void importFinished(int index) override { view_.importFinished(index); }
    void setRunEnabled(bool enabled) override;
    void setSummaryCaption(const std::string& caption) override {
        view_.setSummaryCaption(caption);
    }
    void setSummaryVisible(bool visible) override { view_.setSummaryVisible(visible); }
    void setBusyPointer(bool busy) override { view_.setBusyPointer(busy); }
    void beep() override { view_.beep(); }
    int messageBox(const std::string& text, int style, const std::string& title) override {
        return view_.messageBox(text, style, title);
    }
    void doEvents() override { view_.doEvents(); }
    Translator language() const override { return view_.language(); }

    // After a run that an error ended: no engine's text in the status panel, the engine that
    // failed (index 0 or 1; any other value for none) without its bar and count, the run
    // button usable.
    void showFailedRunEnded(int failed);

  private:
    static std::size_t At(int index) { return index == 0 ? 0 : 1; }

    ImportView& view_;
    ProgressDisplay& display_;
};

}  // namespace yubin::import
