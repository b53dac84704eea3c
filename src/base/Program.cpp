#include "base/Program.h"

#include <filesystem>
#include <system_error>

namespace yubin {

std::string ExecutableBaseName(std::string_view executablePath) {
    std::string_view name = executablePath;
    const size_t cut = name.find_last_of("/\\");
    if (cut != std::string_view::npos) name.remove_prefix(cut + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::string(name);
}

std::string RunningExecutableBaseName() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "yubinbox";
    std::string name = exe.filename().string();
    // The kernel marks an executable replaced on disk while running.
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.size() > kDeleted.size() && name.ends_with(kDeleted)) {
        name.resize(name.size() - kDeleted.size());
    }
    const std::string base = ExecutableBaseName(name);
    return base.empty() ? "yubinbox" : base;
}

std::string RunningExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.has_parent_path()) return ".";
    return exe.parent_path().string();
}

namespace {

// The installed documentation folder seen from the program folder; empty when not known.
std::filesystem::path InstalledDocumentsFolder(const std::string& programFolder) {
#ifdef YUBIN_MANUAL_FROM_PROGRAM
    return (std::filesystem::path(programFolder) / YUBIN_MANUAL_FROM_PROGRAM).lexically_normal();
#else
    (void)programFolder;
    return {};
#endif
}

}  // namespace

bool IsInstalledProgramFolder(const std::string& programFolder) {
    const std::filesystem::path documents = InstalledDocumentsFolder(programFolder);
    std::error_code ec;
    return !documents.empty() && std::filesystem::is_regular_file(documents / "copyright", ec);
}

std::string ManualFile(const std::string& programFolder) {
    const std::string beside = programFolder + "/manual.html";
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec)) return beside;
    const std::filesystem::path documents = InstalledDocumentsFolder(programFolder);
    if (!documents.empty() && std::filesystem::is_regular_file(documents / "manual.html", ec)) {
        return (documents / "manual.html").string();
    }
    return beside;
}

}  // namespace yubin
