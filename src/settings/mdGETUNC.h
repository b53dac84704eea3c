// Drives, network paths and the documents folder.
#pragma once

#include <string>
#include <vector>

namespace yubin::mdGETUNC {

// Drive-type codes.
enum DriveType : int {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

// The four platform questions the drive list rests on; tests answer them with substitutes.
class DrivePlatform {
public:
    virtual ~DrivePlatform() = default;
    virtual std::vector<std::string> driveRoots() = 0;
    virtual int driveType(const std::string& root) = 0;
    // Whether a new file could be made in the root folder (the write test).
    virtual bool canWrite(const std::string& root) = 0;
    // The universal name of a network root, or "".
    virtual std::string universalName(const std::string& root) = 0;
};

// The platform's answers: the mount table's mount points, in its order.
DrivePlatform& SystemDrivePlatform();

std::vector<std::string> GetDriveList(DrivePlatform& platform);
std::vector<std::string> GetDriveList();

// True when a file could be created in the root folder. Never empties or deletes a file that
// was there before.
bool CanWriteDrive(const std::string& root);
// The universal name of a path on a network mount ("//server/share/"), "" otherwise.
std::string GetUNCPath(const std::string& path);
// The user's documents folder (XDG documents folder, else $HOME/Documents), made when missing.
std::string GetMyDocumentsPath();

}  // namespace yubin::mdGETUNC
