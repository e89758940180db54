// The real tool, run as an administrator's deployment runs it, against the stand-in product.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The test prefix maps drive Q: to a scratch folder of the build tree.
const char kDrive[] = "Q:\\";
const char kToolDirectory[] = "Q:\\scratch";
const char kSpacedFolder[] = "Q:\\Orvanex Quendal";
const char kPlainFolder[] = "Q:\\Quendal";
const unsigned long long kTicksPerMs = 10000;
// Loose: the final pause and one poll take 250 ms; the rest is a slow machine's margin.
const unsigned long long kLingerLimitMs = 2000;

const char kBanner[] =
    "\r\r\n"
    "Tessarune -- Version V1.17\r\r\n"
    "   This program searches the  Windows Registry for the\r\r\n"
    "   appropriate command  to remove the  Orvanex\r\r\n"
    "   Quendal and executes the un-installer silently.\r\r\n";

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
        text.replace(at, from.size(), to);
    }
    return text;
}

void SetUninstallString(const std::string &command) {
    WriteEntry(kProductEntry, {Text("UninstallString", command)});
}

class ToolTest : public testing::Test {
protected:
    void SetUp() override {
        CleanUp();
        CreateDirectoryA(kToolDirectory, nullptr);
    }
    void TearDown() override { CleanUp(); }

    static void CleanUp() {
        RemoveTestEntries();
        DeleteFileA(StandInLogPath().c_str());
        for (const std::string &folder : {std::string(kSpacedFolder), std::string(kPlainFolder),
                                          std::string(kToolDirectory), ProductFolder()}) {
            RemoveFolder(folder);
        }
        RemoveFiles(kDrive);
    }

    static void Install(const std::string &folder, const std::string &options) {
        InstallProduct(folder, options, kToolDirectory);
    }

    // A program of the uninstaller's name where the tool is started: run by mistake, it
    // logs the tool's directory as its own.
    static void PlaceDecoy() { Install(kToolDirectory, "/work=0"); }

    static ProgramRun RunTool(const std::string &arguments = "",
                              const std::vector<EnvironmentChange> &changes = {}) {
        return RunTessarune(arguments, kToolDirectory, changes);
    }
};

TEST_F(ToolTest, AnyArgumentPrintsTheBannerAndRemovesNothing) {
    ASSERT_NO_FATAL_FAILURE(Install(kPlainFolder, "/work=0"));
    for (const char *arguments : {" x", " \"\"", " /uninst", " /? two words"}) {
        const ProgramRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 0u) << arguments;
        EXPECT_EQ(run.output, kBanner) << arguments;
    }
    EXPECT_TRUE(EntryExists(kProductEntry));
    EXPECT_TRUE(LogLines("started").empty());
}

TEST_F(ToolTest, WithoutTheProductEndsSilentlyAtOnce) {
    const ProgramRun banner = RunTool(" x");
    const ProgramRun run = RunTool();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    // The first pause, after a successful search, would take 200 ms; starting a process
    // costs the same in both runs, whatever runs Wine (qemu where the kernel has no 32-bit).
    EXPECT_LT(run.elapsedMs, banner.elapsedMs + 150);
}

TEST_F(ToolTest, RemovesAProductWhoseUninstallerRelaunchesItself) {
    const std::string folder = ProductFolder();
    ASSERT_NO_FATAL_FAILURE(Install(folder, "/relaunch /work=1500"));
    ASSERT_TRUE(PathExists(folder + "\\quendal.exe"));

    const ProgramRun run = RunTool();

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(EntryExists(kProductEntry));
    EXPECT_FALSE(PathExists(folder + "\\quendal.exe"));
    EXPECT_FALSE(PathExists(folder)) << ReadFile(StandInLogPath());
    const std::vector<std::string> started = LogLines("started");
    ASSERT_EQ(started.size(), 2u) << "the uninstaller and its copy";
    EXPECT_EQ(started[0], folder + "|.\\uninst.exe /uninst");
    const unsigned long long closed = LoggedTime("window-closed");
    ASSERT_NE(closed, 0u);
    EXPECT_GE(run.exitTime, closed) << "ended while the uninstaller's window was open";
    EXPECT_LT((run.exitTime - closed) / kTicksPerMs, kLingerLimitMs);
}

struct CommandCase {
    const char *title;
    const char *command;  // {plain} and {spaced} stand for the product folders
    const char *folder;   // where the uninstaller is started; nullptr: nothing is started
    const char *commandLine;
};

const CommandCase kCommandCases[] = {
    {"plain path", "{plain}\\uninst.exe", kPlainFolder, ".\\uninst.exe /uninst"},
    {"plain path with arguments", "{plain}\\uninst.exe /S /v", kPlainFolder,
     ".\\uninst.exe /S /v /uninst"},
    {"quoted path", "\"{spaced}\\uninst.exe\"", kSpacedFolder, ".\\uninst.exe /uninst"},
    {"quoted path with arguments", "\"{spaced}\\uninst.exe\" /S \"/d=a b\"", kSpacedFolder,
     ".\\uninst.exe /S \"/d=a b\" /uninst"},
    {"below a drive", "Q:\\uninst.exe", kDrive, ".\\uninst.exe /uninst"},
    {"quoted below a drive", "\"Q:\\uninst.exe\"", kDrive, ".\\uninst.exe /uninst"},
    {"missing folder", "Q:\\Missing\\uninst.exe", nullptr, nullptr},
    {"no folder", "uninst.exe", nullptr, nullptr},
    {"quote never closed", "\"{plain}\\uninst.exe", nullptr, nullptr},
};

void PrintTo(const CommandCase &test, std::ostream *out) { *out << test.title; }

class CommandTest : public ToolTest, public testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, StartsTheRegisteredUninstallerFromItsFolderOnly) {
    const CommandCase &test = GetParam();
    ASSERT_NO_FATAL_FAILURE(PlaceDecoy());
    const std::string folder = test.folder ? test.folder : kPlainFolder;
    ASSERT_NO_FATAL_FAILURE(Install(folder, "/work=0"));
    SetUninstallString(
        Replace(Replace(test.command, "{plain}", kPlainFolder), "{spaced}", kSpacedFolder));

    const ProgramRun run = RunTool();

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    const std::vector<std::string> started = LogLines("started");
    if (!test.folder) {
        EXPECT_EQ(ReadFile(StandInLogPath()), "") << "an uninstaller was started";
        return;
    }
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], std::string(test.folder) + "|" + test.commandLine);
    EXPECT_FALSE(EntryExists(kProductEntry));
}

INSTANTIATE_TEST_SUITE_P(Forms, CommandTest, testing::ValuesIn(kCommandCases),
                         [](const testing::TestParamInfo<CommandCase> &test) {
                             return CaseName(test.param.title);
                         });

TEST_F(ToolTest, RunsNothingWithoutAUsableInterpreter) {
    ASSERT_NO_FATAL_FAILURE(Install(kPlainFolder, "/work=0"));
    const std::string longInterpreter = "C:\\windows\\system32" + std::string(1000, '\\') +
                                        "cmd.exe";
    const ProgramRun unset = RunTool("", {{"COMSPEC", nullptr}});
    const ProgramRun tooLong = RunTool("", {{"COMSPEC", longInterpreter.c_str()}});
    for (const ProgramRun &run : {unset, tooLong}) {
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, "");
    }
    EXPECT_EQ(ReadFile(StandInLogPath()), "") << "an uninstaller was started";
    EXPECT_TRUE(EntryExists(kProductEntry));
    // Found but not run: the pause after the search and the final pause still pass.
    EXPECT_GE(unset.elapsedMs, 400u);
}

// An empty variable counts as set: the command text, starting with " /c ", goes to the
// interpreter, which may complain on the output it shares with the tool.
TEST_F(ToolTest, AnEmptyInterpreterVariableStartsNoUninstaller) {
    ASSERT_NO_FATAL_FAILURE(Install(kPlainFolder, "/work=0"));
    const ProgramRun run = RunTool("", {{"COMSPEC", ""}});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(LogLines("started").empty());
    EXPECT_TRUE(EntryExists(kProductEntry));
}

}  // namespace
