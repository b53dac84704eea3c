// What the import engines see of the import window: its controls and its event processing.
// The view is only told: nothing the engines or the session decide is read back from it.
//
// The window implements it; so do the command line and the tests. Index 0 is always the
// national data (txtCSVFILE(0), ProgressBar1, MCOUNT), index 1 the business-office data
// (txtCSVFILE(1), ProgressBar2, JCOUNT).
#pragma once

#include <cstdint>
#include <string>

#include "base/MessageBoxStyle.h"
#include "base/Translation.h"

namespace yubin::import {

// Message-box styles and answers, as the windows number them.
namespace msgbox = yubin::msgbox;

class ImportView {
  public:
    virtual ~ImportView() = default;

    // StatusBar1, panel "msg".
    virtual void setStatusMessage(const std::string& text) = 0;

    // ProgressBar1 / ProgressBar2. The value is always within [minimum, maximum].
    virtual void setProgressVisible(int index, bool visible) = 0;
    virtual void setProgressRange(int index, std::uint64_t minimum, std::uint64_t maximum) = 0;
    virtual void setProgressValue(int index, std::uint64_t value) = 0;

    // MCOUNT / JCOUNT.
    virtual void setCountVisible(int index, bool visible) = 0;
    virtual void setCountBorderStyle(int index, int borderStyle) = 0;
    virtual void setCountCaption(int index, const std::string& caption) = 0;
    // The engine of that index has finished: its count label shows the result.
    virtual void importFinished(int /*index*/) {}

    // cmdBTN(0), the run button.
    virtual void setRunEnabled(bool enabled) = 0;

    // lblSAKUSEIBI: the registered-data summary.
    virtual void setSummaryCaption(const std::string& caption) = 0;
    virtual void setSummaryVisible(bool visible) = 0;

    // The screen's mouse pointer: busy during a run.
    virtual void setBusyPointer(bool busy) = 0;
    virtual void beep() = 0;

    // A message box; title "" means the program's default title. Returns msgbox::kAnswer*.
    virtual int messageBox(const std::string& text, int style, const std::string& title) = 0;

    // Lets pending events run, after every line and throughout the closing pause. An abort
    // is handled in here (the session's exit writes the resume marker) and the program ends
    // inside; where it cannot end (the command line, a test) the view throws ImportAborted,
    // so the engine never continues.
    virtual void doEvents() = 0;

    // The language of the composed texts the view is given (the summary, the result
    // captions): the windows keep the Japanese; the command line speaks its locale's.
    virtual Translator language() const { return Untranslated; }
};

}  // namespace yubin::import
