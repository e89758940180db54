// The command built from a registered uninstall command, against real files in a scratch
// folder: which program, from which folder, with what, or nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "uninstall_command.h"

namespace {

const char kInterpreter[] = "C:\\windows\\system32\\cmd.exe";
// A folder of 259 characters, one more than a current folder may have.
const std::string kLongName(259 - TempPath("tessarune-command-test").size() - 1, 'l');

struct BuildCase {
    const char *title;
    std::string command;  // {d}: the scratch folder; {d/}: with slashes; {rooted}: without drive
    std::vector<std::string> files;   // in the scratch folder, with their folders
    const char *folder;               // nullptr: nothing may run
    const char *program;              // what follows "/c \"" up to " /uninst\""
    const char *interpreter = kInterpreter;
};

const BuildCase kBuildCases[] = {
    {"plain path", "{d}\\uninst.exe", {"uninst.exe"}, "{d}", ".\\uninst.exe"},
    {"arguments", "{d}\\uninst.exe /S /v", {"uninst.exe"}, "{d}", ".\\uninst.exe /S /v"},
    {"quoted path and arguments", "\"{d}\\uninst.exe\" /S \"/d=a b\"", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /S \"/d=a b\""},
    {"backslash in an argument", "{d}\\uninst.exe /log={d}\\u.log", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /log={d}\\u.log"},
    {"forward slashes", "{d/}/uninst.exe", {"uninst.exe"}, "{d/}", ".\\uninst.exe"},
    {"percent sign in an argument", "{d}\\uninst.exe /v=%OS%", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /v=%OS%"},
    {"longest beginning that is a file", "{d}\\a.exe b\\uninst.exe /S",
     {"a.exe", "a.exe b\\uninst.exe"}, "{d}\\a.exe b", ".\\uninst.exe /S"},
    {"bare name with a blank and arguments", "{d}\\Uninstall Quendal.exe /S",
     {"Uninstall Quendal.exe", "Uninstall.exe"}, "{d}", "\".\\Uninstall Quendal.exe\" /S"},
    {"bare name with a blank", "{d}\\Uninstall Quendal.exe", {"Uninstall Quendal.exe"}, "{d}",
     "\".\\Uninstall Quendal.exe\""},
    {"semicolon in the name", "{d}\\un;inst.exe", {"un;inst.exe", "un.exe"}, "{d}",
     "\".\\un;inst.exe\""},
    {"comma and equals sign in the name", "\"{d}\\un,in=st.exe\"", {"un,in=st.exe"}, "{d}",
     "\".\\un,in=st.exe\""},
    {"no extension, standing alone", "{d}\\uninst", {"uninst.com", "uninst.exe"}, "{d}",
     ".\\uninst.exe"},
    {"no extension, quoted, with arguments", "\"{d}\\uninst\" /S", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /S"},
    {"no extension before arguments", "{d}\\uninst /S", {"uninst.exe"}, nullptr, nullptr},
    {"missing, a script of that name beside", "{d}\\missing.exe", {"missing.exe.bat"},
     nullptr, nullptr},
    {"quoted and missing", "\"{d}\\uninst.exe\"", {}, nullptr, nullptr},
    {"trailing dot", "{d}\\uninst.exe.", {"uninst.exe"}, nullptr, nullptr},
    {"no file name", "{d}\\", {"uninst.exe"}, nullptr, nullptr},
    {"quote never closed", "\"{d}\\uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"ampersand", "{d}\\un&inst.exe", {"un&inst.exe", "un.exe"}, nullptr, nullptr},
    {"ampersand in a quoted argument", "\"{d}\\uninst.exe\" \"/LOG=a&b\"", {"uninst.exe"},
     nullptr, nullptr},
    {"pipe", "\"{d}\\uninst.exe\" /S | x.exe", {"uninst.exe"}, nullptr, nullptr},
    {"redirection", "\"{d}\\uninst.exe\" /S > out.txt", {"uninst.exe"}, nullptr, nullptr},
    {"input redirection", "\"{d}\\uninst.exe\" < in.txt", {"uninst.exe"}, nullptr, nullptr},
    {"caret", "{d}\\un^inst.exe", {"un^inst.exe", "uninst.exe"}, nullptr, nullptr},
    {"percent sign in the name", "{d}\\un%OS%.exe", {"un%OS%.exe"}, nullptr, nullptr},
    {"relative path", "Quendal\\uninst.exe", {"Quendal\\uninst.exe"}, nullptr, nullptr},
    {"relative to the current folder", ".\\uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"drive-relative path", "C:uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"relative to the drive's root", "{rooted}\\uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"network path", "\\\\srv\\share\\uninst.exe", {}, nullptr, nullptr},
    {"network path with slashes", "//srv/share\\Quendal\\uninst.exe", {}, nullptr, nullptr},
    {"network path, mixed slashes", "\\/srv/share/uninst.exe", {}, nullptr, nullptr},
    {"network path, mixed slashes the other way", "/\\srv\\share\\uninst.exe", {}, nullptr,
     nullptr},
    {"long-path prefix", "\\\\?\\{d}\\uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"device prefix", "\\\\.\\{d}\\uninst.exe", {"uninst.exe"}, nullptr, nullptr},
    {"folder too long to be the current one", "{d}\\" + kLongName + "\\uninst.exe",
     {kLongName + "\\uninst.exe"}, nullptr, nullptr},
    {"interpreter path with a blank", "{d}\\uninst.exe", {"uninst.exe"}, "{d}",
     ".\\uninst.exe", "C:\\Program Files\\cmd x\\cmd.exe"},
    {"interpreter path with an ampersand", "{d}\\uninst.exe", {"uninst.exe"}, "{d}",
     ".\\uninst.exe", "C:\\a&b\\cmd.exe"},
};

void PrintTo(const BuildCase &test, std::ostream *out) { *out << test.title; }

class BuildTest : public testing::TestWithParam<BuildCase> {
protected:
    void SetUp() override { RemoveFolder(Scratch()); }
    void TearDown() override { RemoveFolder(Scratch()); }

    static std::string Scratch() { return TempPath("tessarune-command-test"); }

    static std::string Expand(const std::string &text) {
        const std::string expanded = Replace(text, "{d/}", Replace(Scratch(), "\\", "/"));
        return Replace(Replace(expanded, "{d}", Scratch()), "{rooted}", Scratch().substr(2));
    }
};

TEST_P(BuildTest, RunsTheRegisteredProgramOrNothing) {
    const BuildCase &test = GetParam();
    for (const std::string &file : test.files) {
        ASSERT_TRUE(PlaceFile(Scratch() + "\\" + file)) << file;
    }
    // Relative paths would name files of the current folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(Scratch().c_str());
    char folder[1024] = "untouched";
    char text[1024] = "untouched";
    const bool built = BuildUninstallCommand(Expand(test.command).c_str(), test.interpreter,
                                             folder, sizeof folder, text, sizeof text);
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(built, test.folder != nullptr) << text;
    if (!built) {
        return;
    }
    EXPECT_EQ(folder, Expand(test.folder));
    const std::string interpreter(test.interpreter);
    const std::string expected =
        interpreter.find_first_of(" &") == std::string::npos
            ? interpreter + " /c \"" + Expand(test.program) + " /uninst\""
            : "\"\"" + interpreter + "\" /c \"" + Expand(test.program) + " /uninst\"\"";
    EXPECT_EQ(text, expected);
}

INSTANTIATE_TEST_SUITE_P(Commands, BuildTest, testing::ValuesIn(kBuildCases),
                         [](const testing::TestParamInfo<BuildCase> &test) {
                             return CaseName(test.param.title);
                         });

TEST(BuildTextTest, NeverWritesPastTheHolders) {
    const std::string folder = TempPath("tessarune-command-test");
    ASSERT_TRUE(PlaceFile(folder + "\\uninst.exe"));
    const std::string command = folder + "\\uninst.exe";
    const std::string whole = std::string(kInterpreter) + " /c \".\\uninst.exe /uninst\"";
    char text[64];
    memset(text, 'x', sizeof text);
    char holder[1024];
    EXPECT_FALSE(BuildUninstallCommand(command.c_str(), kInterpreter, holder, sizeof holder,
                                       text, whole.size()));
    EXPECT_EQ(text[whole.size()], 'x');
    EXPECT_TRUE(BuildUninstallCommand(command.c_str(), kInterpreter, holder, sizeof holder, text,
                                      whole.size() + 1));
    EXPECT_EQ(text, whole);
    EXPECT_FALSE(BuildUninstallCommand(command.c_str(), kInterpreter, holder, folder.size(),
                                       text, sizeof text));
    RemoveFolder(folder);
}

}  // namespace
