// What the main menu decides each time it becomes the active window: which task buttons it
// offers, where the focus goes and which refusals it shows. No toolkit here: the window only
// applies the decision to its buttons.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "import/Administration.h"

namespace yubin::menu {

// The task buttons of the menu, by index.
enum Task { NewDatabase = 0, SettingsFile = 1, Import = 2, Close = 3 };

// What activation looks at, in the order it looks.
struct MenuFacts {
    bool settingsFileExists = false;
    std::string author;       // key `author` as read ("" when missing)
    std::string currentUser;  // the login name
    // The database of `path` and the write probe on it.
    administration::DatabaseAccess database = administration::DatabaseAccess::DoesNotOpen;
};

// How long the menu's write probe waits for another program: the menu must appear at once,
// and a database held longer is reported as in use (the probe runs again when the import is
// picked and each time the menu is shown).
inline constexpr std::chrono::milliseconds kProbeWait{250};

enum class ButtonChange { Unchanged, Enable, Disable };

struct MenuActivation {
    ButtonChange newDatabase = ButtonChange::Unchanged;
    ButtonChange settingsFile = ButtonChange::Unchanged;
    ButtonChange import = ButtonChange::Unchanged;
    std::optional<Task> focus;  // nullopt: the focus stays where it is
    // Each text goes into the status panel and is shown in a message box, in this order
    // (the refusal administration::kNoImportPermission).
    std::vector<std::string> messages;
    // Said in the status panel only, when there is no message: the database is in use by
    // another program (administration::kDatabaseInUse), the import is offered all the same.
    std::string notice;
};

// The decision from the facts. The focus is given before buttons are disabled, so a focused
// button that is then disabled hands the focus on. Every button the state table gives as
// enabled is enabled explicitly: the menu may be shown again after an activation that had
// disabled it.
MenuActivation DecideMenuActivation(const MenuFacts& facts);

// The facts of this user and machine: sets strIniFile, reads the settings file, and opens the
// database of `path` for the write probe (waiting kProbeWait at most) only when the settings
// file exists.
MenuFacts GatherMenuFacts();

}  // namespace yubin::menu
