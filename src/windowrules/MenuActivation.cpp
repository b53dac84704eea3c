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

    if (facts.databaseOpens) {
        if (!facts.writeProbeSucceeds) {
            result.import = ButtonChange::Disable;
            result.messages.emplace_back(administration::kNoImportPermission);
        } else if (isAuthor) {
            // Offered again also when an earlier activation of this menu had disabled it.
            result.import = ButtonChange::Enable;
        }
        return result;
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
    const administration::DatabaseAccess access =
        administration::ProbeDatabase(mdFileCreate::ReadKey("path"));
    facts.databaseOpens = access != administration::DatabaseAccess::DoesNotOpen;
    facts.writeProbeSucceeds = access == administration::DatabaseAccess::Writable;
    return facts;
}

}  // namespace yubin::menu
