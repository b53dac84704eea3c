// frmFilename, the program's own file chooser: one file of an expected name from a drive
// list, a folder list and a file list. Settings mode (called by frmMENU) writes the settings
// file for the chosen database and ends the program; data-file mode (called by frmyubinbox)
// hands back the path and date in strSelFile / strSelFileDate.
#pragma once

#include <functional>

#include "app/WindowBase.h"

namespace yubin::app {

class frmFilename : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmFilename");

    explicit frmFilename(QWidget* parent = nullptr);

    // Remembers the calling window and sets the title, lblTITLE and the buttons by mode.
    void InitFileSelect(WindowBase& caller, const QString& title);

    // Data-file mode: a new chooser for the caller, shown modal; returns once it has closed
    // (strSelFile / strSelFileDate then hold the result, strSelFile "" when cancelled).
    static void ShowModal(WindowBase& caller, const QString& title);

    // Tests replace the modal showing: the hook gets the chooser, loaded and initialised, in
    // place of a nested event loop, and must close it. An empty function restores the real
    // showing. Returns the hook that was in place.
    using ModalHook = std::function<void(frmFilename&)>;
    static ModalHook SetModalHook(ModalHook hook);
};

}  // namespace yubin::app
