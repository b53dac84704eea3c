#include "windowrules/ChooserRules.h"

#include <string_view>

#include "base/Text.h"

namespace yubin::app::rules {

namespace {

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte length of the UTF-8 character that starts at `pos`.
size_t CharacterLength(std::string_view text, size_t pos) {
    size_t end = pos + 1;
    while (end < text.size() && IsContinuationByte(text[end])) ++end;
    return end - pos;
}

bool MatchesOne(std::string_view name, std::string_view pattern) {
    // Iterative wildcard match, going back to the last "*" on a mismatch.
    size_t n = 0, p = 0;
    size_t starPattern = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = ++p;
            starName = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            n += CharacterLength(name, n);
            ++p;
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(name[n])) {
            ++n;
            ++p;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern;
            starName += CharacterLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    return WithoutTrailingBlanks(text);
}

bool IsReadableMedium(int type) {
    return type == mdGETUNC::kDriveFixed || type == mdGETUNC::kDriveRemovable ||
           type == mdGETUNC::kDriveCdRom;
}

}  // namespace

std::string WithoutAccessMarks(std::string title) {
    for (std::string_view mark : {"(&K)", "(&J)", "(&S)"}) {
        for (size_t at = title.find(mark); at != std::string::npos; at = title.find(mark, at)) {
            title.erase(at, mark.size());
        }
    }
    return title;
}

std::string DatabaseChooserTitle() {
    return std::string("郵便番号データベースファイル選択 (") + kDatabaseExpectedFile + ") ";
}

std::string FilePatternFor(const std::string& expectedName) {
    size_t start = expectedName.size();
    for (int characters = 0; characters < 4 && start > 0; ++characters) {
        do {
            --start;
        } while (start > 0 && IsContinuationByte(expectedName[start]));
    }
    return "*" + expectedName.substr(start);
}

bool MatchesFilePattern(const std::string& fileName, const std::string& pattern) {
    std::string_view rest = pattern;
    while (true) {
        size_t separator = rest.find(';');
        std::string_view one = WithoutTrailingBlanks(rest.substr(0, separator));
        if (MatchesOne(fileName, one)) return true;
        if (separator == std::string_view::npos) return false;
        rest.remove_prefix(separator + 1);
    }
}

bool IsExpectedFile(const std::string& fileName, const std::string& expectedName) {
    return AsciiLower(fileName) == AsciiLower(std::string(TrimBlanks(expectedName)));
}

std::string JoinFolderAndName(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string ChooserStatusText(int button, ChooserMode mode) {
    if (mode != ChooserMode::Settings) return "";
    switch (button) {
        case kSelectButton:
            return "設定ファイルを作成後、プログラムを終了します。";
        case kExitButton:
            return "プログラムを終了します。";
        default:
            return "";
    }
}

std::string MakeMdbStatusText(int button) {
    switch (button) {
        case kConfirmButton:
            return "郵便番号データ取込処理に移動します。";
        case kEndButton:
            return "プログラムが終了します。";
        default:
            return "";
    }
}

std::vector<mdGETUNC::DriveEntry> ReadableDriveEntries(mdGETUNC::DrivePlatform& platform) {
    std::vector<mdGETUNC::DriveEntry> list;
    for (const std::string& root : platform.driveRoots()) {
        const int type = platform.driveType(root);
        if (IsReadableMedium(type)) {
            list.push_back({root, root});
        } else if (type == mdGETUNC::kDriveRemote && platform.canRead(root)) {
            std::string name = platform.universalName(root);
            while (name.size() > 2 && name.back() == '/') name.pop_back();
            list.push_back({name.empty() ? root : name, root});
        }
    }
    return list;
}

int DriveEntryHolding(const std::vector<mdGETUNC::DriveEntry>& entries, const std::string& path) {
    int best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        std::string_view folder = entries[i].folder;
        while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
        if (folder.empty()) continue;
        const bool holds = folder == "/" ? path.starts_with('/')
                                         : path == folder || (path.starts_with(folder) &&
                                                              path[folder.size()] == '/');
        if (holds && (best < 0 || folder.size() > bestLength)) {
            best = static_cast<int>(i);
            bestLength = folder.size();
        }
    }
    return best;
}

}  // namespace yubin::app::rules
