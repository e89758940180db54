// The real tool, run as an administrator's deployment runs it, against the stand-in product
// and against the product as an installer engine builds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// The same folder as the tests' drive, as a network share: the test prefix maps
// \\tessarune\q to it; run-checks.cmd sets it on Windows.
const char kShareVariable[] = "TESSARUNE_SHARE";
const char kDefaultShare[] = "\\\\tessarune\\q";

const char kBanner[] =
    "\r\r\n"
    "Tessarune -- Version V1.17\r\r\n"
    "   This program searches the  Windows Registry for the\r\r\n"
    "   appropriate command  to remove the  Orvanex\r\r\n"
    "   Quendal and executes the un-installer silently.\r\r\n";

// {drive}, {share}, {share/} (with slashes), {stand-in} and the scratch names ({plain},
// {tool} and the like) in a table's text, as this machine has them.
std::string Expand(const std::string &text) {
    std::string expanded =
        Replace(text, "{stand-in}", ProgramsFolder() + "\\quendal_stand_in.exe");
    for (const ScratchName &known : kScratchNames) {
        expanded = Replace(expanded, known.placeholder, "{drive}\\" + known.name);
    }
    const std::string share = Setting(kShareVariable, kDefaultShare);
    expanded = Replace(expanded, "{share/}", Replace(share, "\\", "/"));
    expanded = Replace(expanded, "{share}", share);
    return Replace(expanded, "{drive}", ScratchDrive());
}

class ToolTest : public testing::Test {
protected:
    void SetUp() override {
        CleanUp();
        MakeFolder(Expand("{tool}"));
    }
    void TearDown() override { CleanUp(); }

    static void CleanUp() {
        RemoveTestEntries();
        RemoveProgramsFiles();
        RemoveScratchContents();
        RemoveInstalledProduct();
    }

    static void Install(const std::string &folder, const std::string &options) {
        ASSERT_TRUE(InstallProduct(folder, options, Expand("{tool}")))
            << "installing into " << folder;
    }

    // A program of the uninstaller's name where the tool is started: run by mistake, it
    // logs the tool's directory as its own.
    static void PlaceDecoy() { Install(Expand("{tool}"), "/work=0"); }

    static ProgramRun RunTool(const std::string &arguments = "",
                              const std::vector<EnvironmentChange> &changes = {},
                              const char *desktop = nullptr) {
        return RunTessarune(arguments, Expand("{tool}"), changes, desktop);
    }
};

TEST_F(ToolTest, AnyArgumentPrintsTheBannerAndRemovesNothing) {
    ASSERT_NO_FATAL_FAILURE(Install(Expand("{plain}"), "/work=0"));
    for (const char *arguments : {" x", " \"\"", " /uninst", " /? two words"}) {
        const ProgramRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 0u) << arguments;
        EXPECT_EQ(run.output, kBanner) << arguments;
    }
    EXPECT_TRUE(EntryExists(ProductEntry()));
    EXPECT_TRUE(LogLines("started").empty());
}

// How soon it ends is a figure of make bench.
TEST_F(ToolTest, WithoutTheProductEndsSilently) {
    const ProgramRun run = RunTool();
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
}

struct RemovalCase {
    const char *title;
    bool engine;          // the installer engine's Quendal; else the stand-in, relaunching
    const char *options;  // the installer's, with the names of Expand
    bool startInProduct;  // the tool is started from inside the product's folder
    bool decoy;           // an Uninstall.exe in the product's folder, which must never run
    bool lingers = false;  // the uninstaller leaves a program running after its window
    // Its copy leaves the tool's job, and is waited for only when its window shows first:
    // the row judges that the copy could leave and do the removal, not when the tool ended.
    bool leavesJob = false;
};

const RemovalCase kRemovalCases[] = {
    {"stand-in relaunching itself", false, "/relaunch /work=1500", false, false},
    {"stand-in relaunching itself out of the job", false, "/relaunch /breakaway /work=1500",
     false, false, false, true},
    {"stand-in, started in its folder", false, "/relaunch /work=1500", true, false},
    {"engine, bare path", true, "/REGISTER=plain", false, false},
    {"engine, quoted path", true, "/REGISTER=quoted", false, false},
    {"engine, quoted name with a blank and arguments", true,
     "/UNINSTALLER=Uninstall Quendal.exe /REGISTER=quoted-args", false, true},
    {"engine, bare name with a blank", true,
     "/UNINSTALLER=Uninstall Quendal.exe /REGISTER=plain", false, true},
    {"engine, started in its folder", true, "/REGISTER=quoted", true, false},
    {"engine, window 0.8 s late", true, "/WINDOW_DELAY=800", false, false},
    {"engine, window 2.5 s late", true, "/WINDOW_DELAY=2500", false, false},
    {"engine, no window", true, "/WINDOW=none", false, false},
    {"engine, late window, leaves a program running", true,
     "/WINDOW_DELAY=800 /LINGER={stand-in}", false, false, true},
};

void PrintTo(const RemovalCase &test, std::ostream *out) { *out << test.title; }

class RemovalTest : public ToolTest, public testing::WithParamInterface<RemovalCase> {};

// The program the uninstaller left running (started just before the window closes, it stays
// 8 s) still ran when the tool had ended and its output had closed, and later ended its stay
// itself: the tool neither waited for it, nor ended it, nor let it hold the tool's output.
void ExpectLingererUntouched(const ProgramRun &run) {
    ASSERT_NE(run.outputEndTime, 0u) << "the output never ended";
    EXPECT_TRUE(LogLines("lingered").empty()) << "it had ended when the tool ended";
    for (int waited = 0; waited < 200 && LogLines("lingered").empty(); ++waited) {
        Sleep(100);
    }
    const std::vector<std::string> ended = LogLines("lingered");
    ASSERT_EQ(LogLines("lingering").size(), 1u) << "the uninstaller started no program";
    ASSERT_EQ(ended.size(), 1u) << "it never ended its stay";
    EXPECT_LT(run.outputEndTime, std::stoull(ended[0])) << "it held the tool's output";
}

TEST_P(RemovalTest, RemovesTheProductBeforeItEnds) {
    const RemovalCase &test = GetParam();
    const std::string folder = ProductFolder();
    const std::string options = Expand(test.options);
    ASSERT_TRUE(test.engine ? InstallRealProduct(options)
                            : InstallProduct(folder, options, Expand("{tool}")));
    ASSERT_TRUE(PathExists(folder));
    if (test.decoy) {
        ASSERT_TRUE(CopyNewFile(ProgramsFolder() + "\\quendal_stand_in.exe",
                                folder + "\\Uninstall.exe"));
    }

    const ProgramRun run = RunTessarune("", test.startInProduct ? folder : Expand("{tool}"));
    const bool entryLeft = EntryExists(ProductEntry());
    // The uninstallers delete what they installed, by name, and their folder only when that
    // empties it: the decoy, which is the test's, keeps it.
    const bool folderLeft = PathExists(test.decoy ? folder + "\\quendal.dat" : folder);

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    if (test.leavesJob) {
        EXPECT_TRUE(AwaitRemoval(folder)) << FileContents(StandInLogPath());
    } else {
        EXPECT_FALSE(entryLeft) << "the tool ended before the uninstaller had removed the product";
        EXPECT_FALSE(folderLeft) << FileContents(StandInLogPath());
    }
    if (test.lingers) {
        ExpectLingererUntouched(run);
    }
    if (!test.engine) {
        const std::vector<std::string> started = LogLines("started");
        ASSERT_EQ(started.size(), 2u) << "the uninstaller and its copy";
        EXPECT_EQ(started[0], folder + "|.\\uninst.exe /uninst");
        const unsigned long long closed = LoggedTime("window-closed");
        ASSERT_NE(closed, 0u);
        EXPECT_TRUE(test.leavesJob || run.exitTime >= closed)
            << "ended while the uninstaller's window was open";
    }
}

INSTANTIATE_TEST_SUITE_P(Products, RemovalTest, testing::ValuesIn(kRemovalCases),
                         [](const testing::TestParamInfo<RemovalCase> &test) {
                             return CaseName(test.param.title);
                         });

struct CommandCase {
    const char *title;
    const char *command;  // with the names of Expand
    const char *folder;   // where the uninstaller is started; nullptr: nothing is started
    const char *commandLine;
    // Copies of the stand-in beside its uninst.exe (and Uninstall.exe, always there): the
    // uninstaller's own name, or programs that must never run.
    std::vector<std::string> copies = {};
    const char *interpreter = nullptr;  // COMSPEC, when not the system's
    // Run on a desktop of its own, whose desktop window no program has asked for yet: Wine
    // starts its desktop process for the first program that does.
    bool newDesktop = false;
};

const char kBlankName[] = "Uninstall Quendal.exe";
const CommandCase kCommandCases[] = {
    {"plain path", "{plain}\\uninst.exe", "{plain}", ".\\uninst.exe /uninst"},
    {"plain path, on a new desktop", "{plain}\\uninst.exe", "{plain}", ".\\uninst.exe /uninst",
     {}, nullptr, true},
    {"plain path with arguments", "{plain}\\uninst.exe /S /v", "{plain}",
     ".\\uninst.exe /S /v /uninst"},
    {"quoted path", "\"{spaced}\\uninst.exe\"", "{spaced}", ".\\uninst.exe /uninst"},
    {"quoted path with arguments", "\"{spaced}\\uninst.exe\" /S \"/d=a b\"", "{spaced}",
     ".\\uninst.exe /S \"/d=a b\" /uninst"},
    {"below a drive", "{drive}\\uninst.exe", "{drive}\\", ".\\uninst.exe /uninst"},
    {"quoted below a drive", "\"{drive}\\uninst.exe\"", "{drive}\\", ".\\uninst.exe /uninst"},
    {"forward slashes", "{drive}/Quendal/uninst.exe", "{plain}", ".\\uninst.exe /uninst"},
    {"backslash in an argument", "{plain}\\uninst.exe /log={tool}\\u.log", "{plain}",
     ".\\uninst.exe /log={tool}\\u.log /uninst"},
    {"missing folder", "{drive}\\Missing\\uninst.exe", nullptr, nullptr},
    {"no folder", "uninst.exe", nullptr, nullptr},
    {"relative folder", ".\\uninst.exe", nullptr, nullptr},
    {"missing uninstaller", "\"{plain}\\missing.exe\"", nullptr, nullptr},
    {"quote never closed", "\"{plain}\\uninst.exe", nullptr, nullptr},
    {"quoted name with a blank", "\"{spaced}\\Uninstall Quendal.exe\" /allusers", "{spaced}",
     "\".\\Uninstall Quendal.exe\" /allusers /uninst", {kBlankName}},
    {"bare name with a blank", "{spaced}\\Uninstall Quendal.exe", "{spaced}",
     "\".\\Uninstall Quendal.exe\" /uninst", {kBlankName}},
    {"bare name with a blank and arguments", "{spaced}\\Uninstall Quendal.exe /S", "{spaced}",
     "\".\\Uninstall Quendal.exe\" /S /uninst", {kBlankName}},
    {"semicolon in the name", "{plain}\\un;inst.exe", "{plain}", "\".\\un;inst.exe\" /uninst",
     {"un;inst.exe", "un.exe"}},
    {"no extension, a .com beside", "{plain}\\uninst", "{plain}", ".\\uninst.exe /uninst",
     {"uninst.com"}},
    {"quoted name with a blank not there", "\"{plain}\\Uninstall Quendal.exe\"", nullptr,
     nullptr},
    // A wrong reading would start .\.exe.
    {"no file name", "{plain}\\", nullptr, nullptr, {".exe"}},
    {"quoted, no file name", "\"{plain}\\\"", nullptr, nullptr, {".exe"}},
    {"network share", "{share}\\Quendal\\uninst.exe", nullptr, nullptr},
    {"network share with slashes", "{share/}/Quendal\\uninst.exe", nullptr, nullptr},
    // Characters the interpreter acts on outside quotes: each would start another program,
    // write a file or change the name. The name goes between quotes, where it reads them as
    // themselves.
    {"ampersand in the name", "{plain}\\un&inst.exe", "{plain}", "\".\\un&inst.exe\" /uninst",
     {"un&inst.exe", "un.exe", "inst.exe"}},
    {"ampersands in a quoted name with blanks",
     "\"{drive}\\Smith & Sons\\Uninstall Smith & Sons.exe\" /S", "{drive}\\Smith & Sons",
     "\".\\Uninstall Smith & Sons.exe\" /S /uninst",
     {"Uninstall Smith & Sons.exe", "Uninstall Smith.exe"}},
    {"caret in the name", "{plain}\\u^p.exe", "{plain}", "\".\\u^p.exe\" /uninst",
     {"u^p.exe", "up.exe"}},
    // Read by the most cited description of cmd, Windows' would start un.exe.
    {"y with diaeresis in the name", "{plain}\\un\xC3\xBFinst.exe", "{plain}",
     "\".\\un\xC3\xBFinst.exe\" /uninst", {"un\xC3\xBFinst.exe", "un.exe"}},
    // Between quotes cmd reads them as themselves; a misreading would start D.exe.
    {"ampersand and caret in a quoted argument", "\"{R&D}\\uninst.exe\" /A \"{R&D}\\INSTALL.LOG\"",
     "{R&D}", ".\\uninst.exe /A \"{R&D}\\INSTALL.LOG\" /uninst", {"D.exe"}},
    // Wine's cmd acts on "&" in a name before it replaces the variable, and reads %~ as its
    // own: it would start B%.exe, or pass the name's text.
    {"variable named with an ampersand", "{plain}\\uninst.exe /v=%Q&B% /S", nullptr, nullptr,
     {"B%.exe"}},
    {"variable named with a tilde", "{plain}\\uninst.exe /f=%~x%", nullptr, nullptr},
    {"doubled separator inside the path", "\"{plain}\\\\uninst.exe\" /S", "{plain}",
     ".\\uninst.exe /S /uninst"},
    {"pipe", "\"{plain}\\uninst.exe\" /S | x.exe", nullptr, nullptr, {"x.exe"}},
    {"output redirected", "\"{plain}\\uninst.exe\" /S > {tool}\\written.txt", nullptr,
     nullptr},
    {"variable in the name", "{plain}\\un%OS%.exe", nullptr, nullptr,
     {"un%OS%.exe", "unWindows_NT.exe"}},
    {"full-width letter in the folder, which is not there", "{full-width}\\uninst.exe", nullptr,
     nullptr},
    {"full-width letter in the folder", "{full-width}\\uninst.exe", "{full-width}",
     ".\\uninst.exe /uninst"},
    {"folder of 259 characters", "{long}\\uninst.exe", nullptr, nullptr},
    {"interpreter path with a blank", "{plain}\\uninst.exe", "{plain}", ".\\uninst.exe /uninst",
     {}, "{interpreter}\\cmd.exe"},
    // Wine's cmd takes "/cmd x/cmd.exe" for its switch /c, and runs its md.
    {"interpreter path with forward slashes", "{plain}\\uninst.exe", "{plain}",
     ".\\uninst.exe /uninst", {}, "{drive}/cmd x/cmd.exe"},
    {"ampersand and caret in the folder", "{R&D}\\uninst.exe /S", "{R&D}",
     ".\\uninst.exe /S /uninst"},
    {"parentheses in the name", "{plain}\\uninst(1).exe /S", "{plain}",
     "\".\\uninst(1).exe\" /S /uninst", {"uninst(1).exe"}},
    {"extension glued to the closing quote", "\"{plain}\\uninst\".exe /S", nullptr, nullptr,
     {"uninst.exe.exe"}},
    {"line feed before the last argument", "{plain}\\uninst.exe /S\n/X", nullptr, nullptr},
    {"unbalanced quote in the arguments", "\"{plain}\\uninst.exe\" /D=\"a b", nullptr, nullptr},
};

void PrintTo(const CommandCase &test, std::ostream *out) { *out << test.title; }

class CommandTest : public ToolTest, public testing::WithParamInterface<CommandCase> {
protected:
    // Variables the rows name; the tool's environment is this process's.
    void SetUp() override {
        ToolTest::SetUp();
        SetEnvironmentVariableA("Q&B", "x");
        SetEnvironmentVariableA("~x", "y");
    }
};

// A copy of the system's interpreter where the path has a blank, and a program of the name
// before the blank that must never run.
void PlaceInterpreter(const std::string &written) {
    const std::string interpreter = Replace(written, "/", "\\");
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const std::string folder = interpreter.substr(0, interpreter.rfind('\\'));
    ASSERT_TRUE(MakeFolder(folder));
    ASSERT_TRUE(CopyNewFile(std::string(system) + "\\cmd.exe", interpreter));
    ASSERT_TRUE(CopyNewFile(ProgramsFolder() + "\\quendal_stand_in.exe",
                            interpreter.substr(0, interpreter.find(' ')) + ".exe"));
}

TEST_P(CommandTest, StartsTheRegisteredUninstallerFromItsFolderOnly) {
    const CommandCase &test = GetParam();
    ASSERT_NO_FATAL_FAILURE(PlaceDecoy());
    const std::string folder = Expand(test.folder ? test.folder : "{plain}");
    // Installed under a name this process's code page holds, then renamed.
    const bool renamed = test.folder && strcmp(test.folder, "{full-width}") == 0;
    // The tool runs such a folder, or a name of other scripts, where Windows honours its
    // manifest's UTF-8 (Windows 10 1903 and later); this program has the same manifest.
    const std::string command = test.command;
    const bool otherScripts = renamed || std::any_of(command.begin(), command.end(),
                                                     [](char c) { return c & 0x80; });
    if (otherScripts && GetACP() != CP_UTF8) {
        GTEST_SKIP() << "Windows before 10 1903 works in a code page of its own";
    }
    const std::string installed = renamed ? Expand("{plain}") : folder;
    ASSERT_NO_FATAL_FAILURE(Install(installed, "/work=0"));
    std::vector<std::string> copies = test.copies;
    copies.push_back("Uninstall.exe");
    for (const std::string &name : copies) {
        ASSERT_TRUE(CopyNewFile(installed + "\\uninst.exe", installed + "\\" + name)) << name;
    }
    ASSERT_TRUE(!renamed || RenameFolder(installed, folder));
    // Present, so that only the name's length keeps it from running.
    ASSERT_TRUE(PlaceFile(Expand("{long}\\uninst.exe")));
    std::vector<EnvironmentChange> changes;
    const std::string interpreter = test.interpreter ? Expand(test.interpreter) : "";
    if (test.interpreter) {
        ASSERT_NO_FATAL_FAILURE(PlaceInterpreter(interpreter));
        changes.push_back({"COMSPEC", interpreter.c_str()});
    }
    ASSERT_TRUE(WriteEntry(ProductEntry(), {Wide("UninstallString", Utf16(Expand(test.command)))}));

    HDESK desktop = test.newDesktop ? CreateDesktopA(EntryPrefix().c_str(), nullptr, nullptr, 0,
                                                     GENERIC_ALL, nullptr)
                                    : nullptr;
    if (test.newDesktop && !desktop) {
        GTEST_SKIP() << "no desktop can be made here";
    }
    const ProgramRun run = RunTool("", changes, desktop ? EntryPrefix().c_str() : nullptr);
    if (desktop) {
        CloseDesktop(desktop);
    }

    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, "");
    EXPECT_FALSE(PathExists(Expand("{tool}\\written.txt")));
    const std::vector<std::string> started = LogLines("started");
    if (!test.folder) {
        EXPECT_EQ(FileContents(StandInLogPath()), "") << "an uninstaller was started";
        return;
    }
    ASSERT_EQ(started.size(), 1u) << FileContents(StandInLogPath());
    EXPECT_EQ(started[0], folder + "|" + Expand(test.commandLine));
    EXPECT_FALSE(EntryExists(ProductEntry()));
}

INSTANTIATE_TEST_SUITE_P(Forms, CommandTest, testing::ValuesIn(kCommandCases),
                         [](const testing::TestParamInfo<CommandCase> &test) {
                             return CaseName(test.param.title);
                         });

// A program named like the interpreter in the uninstaller's folder and in the tool's: the
// runtime's own search would find one where COMSPEC does not name the interpreter exactly.
TEST_F(ToolTest, RunsNothingWithoutAUsableInterpreter) {
    ASSERT_NO_FATAL_FAILURE(Install(Expand("{plain}"), "/work=0"));
    for (const char *folder : {"{plain}", "{tool}"}) {
        ASSERT_TRUE(CopyNewFile(ProgramsFolder() + "\\quendal_stand_in.exe",
                                Expand(std::string(folder) + "\\cmd.exe")));
    }
    const std::string tooLong = "C:\\windows\\system32" + std::string(1000, '\\') + "cmd.exe";
    const std::string folder = Expand("{plain}");
    for (const char *interpreter :
         {(const char *)nullptr, "", "cmd.exe", "C:cmd.exe", folder.c_str(), tooLong.c_str()}) {
        SCOPED_TRACE(interpreter ? interpreter : "unset");
        const ProgramRun run = RunTool("", {{"COMSPEC", interpreter}});
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.output, "");
    }
    EXPECT_EQ(FileContents(StandInLogPath()), "") << "a program was started";
    EXPECT_TRUE(EntryExists(ProductEntry()));
}

// The interpreter, as a program of its name sees itself started: in the uninstaller's folder,
// without the registry's AutoRun commands and delayed expansion, given no handle.
TEST_F(ToolTest, StartsTheInterpreterInTheUninstallersFolderWithNothingOfItsOwn) {
    ASSERT_NO_FATAL_FAILURE(Install(Expand("{plain}"), "/work=0"));
    const std::string interpreter = Expand("{interpreter}\\cmd.exe");
    ASSERT_TRUE(MakeFolder(Expand("{interpreter}")));
    ASSERT_TRUE(CopyNewFile(ProgramsFolder() + "\\quendal_stand_in.exe", interpreter));
    const ProgramRun run = RunTool("", {{"COMSPEC", interpreter.c_str()}});
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(LogLines("interpreter"),
              std::vector<std::string>{Expand("{plain}") + "|\"" + interpreter +
                                       "\" /d /v:off /s /c \".\\uninst.exe /uninst\"|0 0 0"});
}

}  // namespace
