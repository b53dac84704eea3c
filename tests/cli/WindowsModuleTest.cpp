// The windows module and the executable as the dynamic loader joins them: the module holds the
// windows only and takes the core (the database, the settings, the import) from the executable,
// so that one process has one core; a subcommand loads neither the module nor Qt.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "support/TestSupport.h"

namespace yubin {
namespace {

namespace fs = std::filesystem;

fs::path ModulePath() { return fs::path(YUBIN_EXECUTABLE).parent_path() / "yubinbox-windows.so"; }

// The module's dynamic symbols by `nm -D` with `options`: the names.
std::set<std::string> DynamicSymbols(const std::string& options) {
    const std::string command = "nm -D " + options + " '" + ModulePath().string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::set<std::string> names;
    if (!pipe) return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::istringstream fields(line);
        std::string first, second, third;
        fields >> first >> second;
        // "ADDRESS TYPE NAME" for a definition, "TYPE NAME" for a reference.
        names.insert(fields >> third ? third : second);
    }
    return names;
}

TEST(WindowsModuleTest, ExportsOnlyItsEntryPoints) {
    ASSERT_TRUE(fs::exists(ModulePath())) << ModulePath();
    EXPECT_EQ(DynamicSymbols("--defined-only"),
              (std::set<std::string>{"yubinbox_run_import_window", "yubinbox_run_windows"}));
}

TEST(WindowsModuleTest, TheWindowsUseTheCoreOfTheExecutable) {
    // What the module needs of our code: the core's functions and state, among them the path of
    // the database (mdlYubinBox::strMdbFile).
    std::set<std::string> ours;
    for (const std::string& name : DynamicSymbols("--undefined-only")) {
        if (name.find("5yubin") != std::string::npos) ours.insert(name);
    }
    ASSERT_TRUE(ours.count("_ZN5yubin11mdlYubinBox10strMdbFileB5cxx11E")) << ours.size();

    // The loader's report of where each reference was bound, for a start of the windows that
    // stops at its arguments (the module is loaded with every symbol bound at once).
    const test::ProcessResult result =
        test::runYubinbox({"import-window"}, {"LD_DEBUG=bindings", "QT_QPA_PLATFORM=offscreen"});
    ASSERT_EQ(result.exitCode, 2) << result.err;  // the usage of import-window
    // "binding file MODULE [0] to OBJECT [0]: normal symbol `NAME'": NAME -> OBJECT.
    std::map<std::string, std::string> boundTo;
    std::istringstream lines(result.err);
    const std::string from = "yubinbox-windows.so [0] to ", symbol = ": normal symbol `";
    for (std::string line; std::getline(lines, line);) {
        const size_t to = line.find(from), name = line.find(symbol);
        if (to == std::string::npos || name == std::string::npos || name < to) continue;
        const size_t nameEnd = line.find('\'', name + symbol.size());
        boundTo[line.substr(name + symbol.size(), nameEnd - name - symbol.size())] =
            line.substr(to + from.size(), name - to - from.size());
    }
    const std::string executable = fs::path(test::yubinboxExecutable()).string() + " [0]";
    for (const std::string& name : ours) {
        ASSERT_TRUE(boundTo.count(name)) << name << " is not bound";
        EXPECT_EQ(boundTo[name], executable) << name << " is not the executable's";
    }
}

TEST(WindowsModuleTest, ASubcommandLoadsNeitherTheModuleNorQt) {
    const test::ProcessResult result = test::runYubinbox({"--version"}, {"LD_DEBUG=files"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("yubinbox-windows.so"), std::string::npos);
    EXPECT_EQ(result.err.find("libQt6"), std::string::npos) << "Qt is loaded";
}

TEST(WindowsModuleTest, PostgresAndZipLibrariesAreLoadedOnlyByWhatUsesThem) {
    test::TempDir dir;
    const std::string database = dir.file("yubinbox.mdb");
    const std::vector<std::string> env = {"HOME=" + dir.path().string()};
    ASSERT_EQ(test::runYubinbox({"createdb", database}, env).exitCode, 0);
    const test::ProcessResult lookup =
        test::runYubinbox({"lookup", "--db", database, "1000001"}, {env[0], "LD_DEBUG=files"});
    EXPECT_EQ(lookup.err.find("libpq"), std::string::npos) << "libpq is loaded by a lookup";
    EXPECT_EQ(lookup.err.find("libzip"), std::string::npos) << "libzip is loaded by a lookup";
    // A publish loads it when it connects (here to a socket folder where no server listens).
    const test::ProcessResult publish = test::runYubinbox(
        {"publish", "--db", database, "--to", "host=" + dir.path().string() + " dbname=none"},
        {env[0], "LD_DEBUG=files"});
    EXPECT_NE(publish.err.find("libpq.so.5"), std::string::npos) << publish.err.substr(0, 2000);
}

}  // namespace
}  // namespace yubin
