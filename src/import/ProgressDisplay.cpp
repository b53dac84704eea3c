#include "import/ProgressDisplay.h"

namespace yubin::import {

void RecordedView::setStatusMessage(const std::string& text) {
    display_.statusMessage = text;
    view_.setStatusMessage(text);
}

void RecordedView::setProgressVisible(int index, bool visible) {
    display_.barVisible[At(index)] = visible;
    view_.setProgressVisible(index, visible);
}

void RecordedView::setProgressValue(int index, std::uint64_t value) {
    display_.barValue[At(index)] = value;
    view_.setProgressValue(index, value);
}

void RecordedView::setCountVisible(int index, bool visible) {
    display_.countVisible[At(index)] = visible;
    view_.setCountVisible(index, visible);
}

void RecordedView::setCountBorderStyle(int index, int borderStyle) {
    display_.countBorderStyle[At(index)] = borderStyle;
    view_.setCountBorderStyle(index, borderStyle);
}

void RecordedView::setCountCaption(int index, const std::string& caption) {
    display_.countCaption[At(index)] = caption;
    view_.setCountCaption(index, caption);
}

void RecordedView::setRunEnabled(bool enabled) {
    display_.runEnabled = enabled;
    view_.setRunEnabled(enabled);
}

void RecordedView::showFailedRunEnded(int failed) {
    setStatusMessage("");
    if (failed == 0 || failed == 1) {
        setProgressValue(failed, 0);
        setProgressVisible(failed, false);
        setCountCaption(failed, "");
        setCountBorderStyle(failed, 0);
        setCountVisible(failed, false);
    }
    setRunEnabled(true);
}

}  // namespace yubin::import
