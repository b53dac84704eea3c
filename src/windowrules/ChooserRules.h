// The rules of the file chooser and the database creation window that are more than mapping
// onto widgets: the chooser's title and expected file name, its file pattern and how names
// match it, its modes, the status help texts, and the drive lists with the folder each entry
// opens on this machine. No toolkit here.
#pragma once

#include <string>
#include <vector>

#include "settings/mdGETUNC.h"

namespace yubin::app::rules {

// ---- The chooser's title and file names -----------------------------------------------------

// The title without its access-key marks "(&K)", "(&J)" and "(&S)" (every occurrence).
std::string WithoutAccessMarks(std::string title);

// The settings mode's expected file, blanks included (the comparison trims them, the refusal
// message shows them), and the title that names it between "(" and ")".
inline constexpr const char* kDatabaseExpectedFile = " yubinBox.mdb ";
std::string DatabaseChooserTitle();  // "郵便番号データベースファイル選択 ( yubinBox.mdb ) "

// The file list's pattern for an expected name: "*" and its last four characters.
std::string FilePatternFor(const std::string& expectedName);

// Whether a file name matches a pattern of the file list: "*" stands for any characters, "?"
// for one; letters match without regard to case; trailing blanks of the pattern are ignored;
// ";" separates alternatives ("*.csv;*.txt").
bool MatchesFilePattern(const std::string& fileName, const std::string& pattern);

// Whether the chosen file is the expected one: the name in lower case against the expected
// name in lower case without its surrounding blanks.
bool IsExpectedFile(const std::string& fileName, const std::string& expectedName);

// A folder and a file name joined by exactly one "/". A root folder ("/") does not double the
// separator: "//name" would name a network path, which does not open on this machine.
std::string JoinFolderAndName(const std::string& folder, const std::string& name);

// ---- Modes and status texts -----------------------------------------------------------------

// The chooser's mode, given by the window that opens it.
enum class ChooserMode {
    Settings,  // the main menu: the settings file for an existing database; the program ends
    DataFile,  // the import window: a data file's path and date go back to it
};

// The chooser's buttons, by index of cmdBTN.
enum ChooserButton { kSelectButton = 0, kExitButton = 1, kBackButton = 2 };
// The caption of cmdBTN 1 in settings mode and in data-file mode.
inline constexpr const char* kChooserExitCaption = "終了(&X)";
inline constexpr const char* kChooserCancelCaption = "ｷｬﾝｾﾙ(&X)";
// The chooser's status help text for a button in a mode.
std::string ChooserStatusText(int button, ChooserMode mode);

// The creation window's buttons, by index of cmdBTN.
enum MakeMdbButton { kConfirmButton = 0, kEndButton = 1, kReturnButton = 2 };
// The creation window's status help text for a button ("" for 戻る).
std::string MakeMdbStatusText(int button);

// ---- Drive lists ----------------------------------------------------------------------------

// The chooser's drives: every mount the user may read files from, in the mount table's
// order: fixed disks, removable media and discs, and network shares that can be read (listed
// by their network name without the closing "/", "//server/share"; by their mount point when
// they have none). RAM disks and the kernel's file systems are left out.
std::vector<mdGETUNC::DriveEntry> ReadableDriveEntries(mdGETUNC::DrivePlatform& platform);

// The entry whose folder holds the path (the deepest one), or -1. The path need not exist.
int DriveEntryHolding(const std::vector<mdGETUNC::DriveEntry>& entries, const std::string& path);

}  // namespace yubin::app::rules
