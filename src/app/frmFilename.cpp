#include "app/frmFilename.h"

namespace yubin::app {

namespace {
frmFilename::ModalHook modalHook;
}

frmFilename::frmFilename(QWidget* parent) : WindowBase(kName, QStringLiteral("moji"), parent) {}

void frmFilename::InitFileSelect(WindowBase& /*caller*/, const QString& title) {
    setCaption(title);
}

void frmFilename::ShowModal(WindowBase& caller, const QString& title) {
    auto* chooser = new frmFilename;
    chooser->InitFileSelect(caller, title);
    if (modalHook) {
        modalHook(*chooser);
        return;
    }
    chooser->unload();
}

frmFilename::ModalHook frmFilename::SetModalHook(ModalHook hook) {
    std::swap(modalHook, hook);
    return hook;
}

}  // namespace yubin::app
