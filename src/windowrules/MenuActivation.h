// What the main menu decides each time it becomes the active window: which task buttons it
// offers, where the focus goes and which refusals it shows. No toolkit here: the window only
// applies the decision to its buttons.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace yubin::menu {

// The task buttons of the menu, by index.
enum Task { NewDatabase = 0, SettingsFile = 1, Import = 2, Close = 3 };

// What activation looks at, in the order it looks.
struct MenuFacts {
    bool settingsFileExists = false;
    std::string author;       // key `author` as read ("" when missing)
    std::string currentUser;  // the login name
    bool databaseOpens = false;
    bool writeProbeSucceeds = false;  // only looked at when the database opens
};

enum class ButtonChange { Unchanged, Enable, Disable };

struct MenuActivation {
    ButtonChange newDatabase = ButtonChange::Unchanged;
    ButtonChange settingsFile = ButtonChange::Unchanged;
    ButtonChange import = ButtonChange::Unchanged;
    std::optional<Task> focus;  // nullopt: the focus stays where it is
    // Each text goes into the status panel and is shown in a message box, in this order
    // (the refusal administration::kNoImportPermission).
    std::vector<std::string> messages;
};

// The decision from the facts. The focus is given before buttons are disabled, so a focused
// button that is then disabled hands the focus on. Every button the state table gives as
// enabled is enabled explicitly: the menu may be shown again after an activation that had
// disabled it.
MenuActivation DecideMenuActivation(const MenuFacts& facts);

// The facts of this user and machine: sets strIniFile, reads the settings file, and opens the
// database of `path` for the write probe only when the settings file exists.
MenuFacts GatherMenuFacts();

}  // namespace yubin::menu
