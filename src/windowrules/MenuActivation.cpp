#include "windowrules/MenuActivation.h"

#include <filesystem>

#include "import/Administration.h"
#include "settings/mdFileCreate.h"

namespace yubin::menu {

MenuActivation DecideMenuActivation(const MenuFacts& facts) {
    MenuActivation result;
    if (!facts.settingsFileExists) {
        // Nothing to import from. Both other tasks are offered again, also to a menu shown
        // again after its settings file went away (which had them disabled).
        result.newDatabase = ButtonChange::Enable;
        result.settingsFile = ButtonChange::Enable;
        result.import = ButtonChange::Disable;
        result.focus = NewDatabase;
        return result;
    }
    result.newDatabase = ButtonChange::Disable;
    result.settingsFile = ButtonChange::Disable;

    const bool isAuthor = facts.author == mdFileCreate::AuthorValue(facts.currentUser);
    if (isAuthor) {
        result.focus = Import;
    } else {
        result.import = ButtonChange::Disable;
        result.messages.emplace_back(administration::kNoImportPermission);
    }

    using administration::DatabaseAccess;
    switch (facts.database) {
        case DatabaseAccess::ReadOnly:
            result.import = ButtonChange::Disable;
            result.messages.emplace_back(administration::kNoImportPermission);
            return result;
        case DatabaseAccess::Busy:
            // Held by another program: nobody is refused for it. The author is offered the
            // import, which probes again when picked.
            if (isAuthor) {
                result.import = ButtonChange::Enable;
                result.notice = administration::kDatabaseInUse;
            }
            return result;
        case DatabaseAccess::Writable:
            // Offered again also when an earlier activation of this menu had disabled it.
            if (isAuthor) result.import = ButtonChange::Enable;
            return result;
        case DatabaseAccess::DoesNotOpen:
            break;
    }
    // The settings point at no usable database: back to making one or pointing elsewhere.
    result.newDatabase = ButtonChange::Enable;
    result.settingsFile = ButtonChange::Enable;
    result.import = ButtonChange::Disable;
    result.focus = NewDatabase;
    return result;
}

MenuFacts GatherMenuFacts() {
    MenuFacts facts;
    mdFileCreate::SetIniFilePath();
    std::error_code ec;
    facts.settingsFileExists = std::filesystem::is_regular_file(mdFileCreate::strIniFile, ec);
    if (!facts.settingsFileExists) return facts;
    facts.author = mdFileCreate::ReadKey("author");
    facts.currentUser = mdFileCreate::GetLoginUserName();
    facts.database = administration::ProbeDatabase(mdFileCreate::ReadKey("path"), kProbeWait);
    return facts;
}

}  // namespace yubin::menu
