// The command built from a registered uninstall command, against real files in a scratch
// folder: which program, from which folder, with what, or nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"
#include "uninstall_command.h"

namespace {

const char kInterpreter[] = "C:\\windows\\system32\\cmd.exe";
const char *const kScratchName = kCommandTestsFolder;
// path, in the scratch folder, of a program whose whole path has length characters
std::string ProgramOfLength(size_t length) {
    const size_t folder = length - TempPath(kScratchName).size() - strlen("\\\\uninst.exe");
    return std::string(folder, 'l') + "\\uninst.exe";
}
// A folder of 259 characters, one more than a current folder may have.
const std::string kLongName(259 - TempPath(kScratchName).size() - 1, 'l');

// Names and values as rows use them.
const char *const kVariables[][2] = {
    {"Q&B", "x"}, {"Q^B", "x"}, {"~x", "y"}, {"TESSARUNE_PERCENT", "%OS%"},
    {"TESSARUNE_DIR(X86)", "C:\\Data"}, {"TESSARUNE_QUOTES", "\"x y\""}, {"TESSARUNE_QUOTE1", "\""},
};

struct BuildCase {
    const char *title;
    std::string command;  // {d}: the scratch folder; {d/}: with slashes; {rooted}: without drive
    std::vector<std::string> files;   // in the scratch folder, with their folders
    std::string folder;               // empty: nothing may run
    std::string program;              // what follows "/c \"" up to " /uninst\""
    std::string interpreter = kInterpreter;  // with {d}
};

const BuildCase kBuildCases[] = {
    {"plain path", "{d}\\uninst.exe", {"uninst.exe"}, "{d}", ".\\uninst.exe"},
    {"arguments", "{d}\\uninst.exe /S /v", {"uninst.exe"}, "{d}", ".\\uninst.exe /S /v"},
    {"quoted path and arguments", "\"{d}\\uninst.exe\" /S \"/d=a b\"", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /S \"/d=a b\""},
    {"backslash in an argument", "{d}\\uninst.exe /log={d}\\u.log", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /log={d}\\u.log"},
    {"forward slashes", "{d/}/uninst.exe", {"uninst.exe"}, "{d}", ".\\uninst.exe"},
    {"variable in an argument", "{d}\\uninst.exe /v=%OS%", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /v=%OS%"},
    {"lone percent sign in an argument", "{d}\\uninst.exe /q=50% /r", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /q=50% /r"},
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
    {"parentheses in the name", "{d}\\uninst(1).exe /S", {"uninst(1).exe", "uninst.exe"}, "{d}",
     "\".\\uninst(1).exe\" /S"},
    {"at sign in the name", "{d}\\un@inst.exe", {"un@inst.exe"}, "{d}", "\".\\un@inst.exe\""},
    // Between quotes cmd reads "&" and "^" as themselves.
    {"ampersand in the name", "{d}\\un&inst.exe", {"un&inst.exe", "un.exe"}, "{d}",
     "\".\\un&inst.exe\""},
    {"ampersands in a quoted name with blanks",
     "\"{d}\\Smith & Sons\\Uninstall Smith & Sons.exe\" /S",
     {"Smith & Sons\\Uninstall Smith & Sons.exe", "Smith & Sons\\Uninstall Smith.exe"},
     "{d}\\Smith & Sons", "\".\\Uninstall Smith & Sons.exe\" /S"},
    {"caret in the name", "{d}\\u^p.exe", {"u^p.exe", "up.exe"}, "{d}", "\".\\u^p.exe\""},
    {"y with diaeresis in the name", "{d}\\un\xC3\xBFinst.exe", {"un\xC3\xBFinst.exe", "un.exe"},
     "{d}", "\".\\un\xC3\xBFinst.exe\""},
    {"no extension, standing alone", "{d}\\uninst", {"uninst.com", "uninst.exe"}, "{d}",
     ".\\uninst.exe"},
    {"no extension, quoted, with arguments", "\"{d}\\uninst\" /S", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /S"},
    {"program path of 258 characters", "{d}\\" + ProgramOfLength(258), {ProgramOfLength(258)},
     "{d}\\" + ProgramOfLength(258).substr(0, ProgramOfLength(258).rfind('\\')), ".\\uninst.exe"},
    {"interpreter path with a blank", "{d}\\uninst.exe", {"uninst.exe", "cmd x\\cmd.exe"},
     "{d}", ".\\uninst.exe", "{d}\\cmd x\\cmd.exe"},
    {"tab after the quoted path", "\"{d}\\uninst.exe\"\t/S", {"uninst.exe"}, "{d}",
     ".\\uninst.exe\t/S"},
    {"tab after the path", "{d}\\uninst.exe\t/S", {"uninst.exe"}, "{d}", ".\\uninst.exe\t/S"},
    {"blanks before the quoted path", "  \"{d}\\uninst.exe\" /S", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /S"},
    {"ampersand and caret in the folder", "{d}\\R&D ^x\\uninst.exe /S", {"R&D ^x\\uninst.exe"},
     "{d}\\R&D ^x", ".\\uninst.exe /S"},
    {"letters that best fit to letters", "{d}\\\xC5\x81uk.exe /LOG=C:\\\xC5\x81ukasz\\q.log",
     {"\xC5\x81uk.exe"}, "{d}", ".\\\xC5\x81uk.exe /LOG=C:\\\xC5\x81ukasz\\q.log"},
    {"two lone percent signs", "{d}\\uninst.exe /a=50% /b=60%", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /a=50% /b=60%"},
    {"doubled percent sign", "{d}\\uninst.exe /p=%%", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /p=%%"},
    {"doubled separator", "{d}\\\\uninst.exe", {"uninst.exe"}, "{d}", ".\\uninst.exe"},
    {"doubled separator inside the path", "\"{d}\\sub\\\\uninst.exe\" /S", {"sub\\uninst.exe"},
     "{d}\\sub", ".\\uninst.exe /S"},
    {"variable named with parentheses", "{d}\\uninst.exe /d=%TESSARUNE_DIR(X86)%", {"uninst.exe"},
     "{d}", ".\\uninst.exe /d=%TESSARUNE_DIR(X86)%"},
    {"variable's paired quotes", "{d}\\uninst.exe /d=%TESSARUNE_QUOTES%", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /d=%TESSARUNE_QUOTES%"},
    // cmd reads "&|<>^" between quotes as themselves.
    {"ampersand in a quoted argument", "\"{d}\\uninst.exe\" \"/LOG=a&b\"", {"uninst.exe"}, "{d}",
     ".\\uninst.exe \"/LOG=a&b\""},
    {"log path with an ampersand", "\"{d}\\UNWISE.EXE\" /A \"C:\\R&D Tools\\INSTALL.LOG\"",
     {"UNWISE.EXE"}, "{d}", ".\\UNWISE.EXE /A \"C:\\R&D Tools\\INSTALL.LOG\""},
    {"quoted value glued to a switch", "{d}\\uninst.exe -f\"C:\\R&D Tools\\setup.iss\"",
     {"uninst.exe"}, "{d}", ".\\uninst.exe -f\"C:\\R&D Tools\\setup.iss\""},
    {"pipe, redirections and caret in quotes", "{d}\\uninst.exe \"/a=x|y<z>w^v\"", {"uninst.exe"},
     "{d}", ".\\uninst.exe \"/a=x|y<z>w^v\""},
    {"quoted name, ampersand in a quoted argument", "{d}\\un inst.exe \"/a=&\"", {"un inst.exe"},
     "{d}", "\".\\un inst.exe\" \"/a=&\""},
    {"ideographic space in a name", "{d}\\un\xE3\x80\x80inst.exe /S", {"un\xE3\x80\x80inst.exe"},
     "{d}", "\".\\un\xE3\x80\x80inst.exe\" /S"},
    {"em space in a quoted name", "\"{d}\\un\xE2\x80\x83inst.exe\"", {"un\xE2\x80\x83inst.exe"},
     "{d}", "\".\\un\xE2\x80\x83inst.exe\""},
    {"lone percent sign, then a variable", "{d}\\uninst.exe /a=50% /b=%OS%", {"uninst.exe"},
     "", ""},
    {"the interpreter's own variable in full width",
     "{d}\\uninst.exe /d=%\xEF\xBC\xA3\xEF\xBC\xA4%", {"uninst.exe"}, "", ""},
    {"variable before a blank", "{d}\\uninst.exe /d=%TESSARUNE_FOLDER% /S", {"uninst.exe"}, "{d}",
     ".\\uninst.exe /d=%TESSARUNE_FOLDER% /S"},
    {"variable's backslash before a quote", "\"{d}\\uninst.exe\" \"/d=%TESSARUNE_FOLDER%\"",
     {"uninst.exe"}, "", ""},
    {"variable's quote", "{d}\\uninst.exe /d=%TESSARUNE_QUOTE%", {"uninst.exe"}, "", ""},
    {"command line too long once expanded", "{d}\\uninst.exe" + [] {
         std::string text;
         for (int copy = 0; copy < 9; ++copy) text += " %TESSARUNE_LONG%";
         return text;
     }(), {"uninst.exe"}, "", ""},
    {"full-width quote in an argument", "{d}\\uninst.exe /d=\xEF\xBC\x82" "C:\\a b", {"uninst.exe"},
     "", ""},
    {"full-width backslash in the name", "{d}\\un\xEF\xBC\xBCinst.exe", {"un\xEF\xBC\xBCinst.exe"},
     "", ""},
    {"no extension before arguments", "{d}\\uninst /S", {"uninst.exe"}, "", ""},
    {"missing, a script of that name beside", "{d}\\missing.exe", {"missing.exe.bat"},
     "", ""},
    {"quoted and missing", "\"{d}\\uninst.exe\"", {}, "", ""},
    {"trailing dot", "{d}\\uninst.exe.", {"uninst.exe"}, "", ""},
    {"quoted, trailing blank", "\"{d}\\uninst.exe \"", {"uninst.exe"}, "", ""},
    {"folder with a trailing blank", "\"{d}\\sub \\uninst.exe\"", {"sub \\uninst.exe"}, "", ""},
    {"no file name", "{d}\\", {"uninst.exe", ".exe"}, "", ""},
    {"quoted, no file name", "\"{d}\\\" /S", {"uninst.exe", ".exe"}, "", ""},
    {"a folder", "{d}\\sub.exe", {"sub.exe\\uninst.exe"}, "", ""},
    {"quote never closed", "\"{d}\\uninst.exe", {"uninst.exe"}, "", ""},
    {"path glued to the closing quote", "\"{d}\\uninst.exe\"\\..\\other.exe",
     {"uninst.exe", "other.exe"}, "", ""},
    {"extension glued to the closing quote", "\"{d}\\uninst\".exe /S",
     {"uninst.exe", "uninst.exe.exe"}, "", ""},
    {"switch glued to the closing quote", "\"{d}\\uninst.exe\"/S", {"uninst.exe"}, "", ""},
    {"dot segments through the arguments", "{d}\\uninst.exe /../other.exe",
     {"uninst.exe", "other.exe"}, "{d}", ".\\uninst.exe /../other.exe"},
    {"dot segment in the path", "{d}\\sub\\..\\uninst.exe", {"uninst.exe", "sub\\x"}, "", ""},
    {"current-folder segment in the path", "{d}\\.\\uninst.exe", {"uninst.exe"}, "", ""},
    {"device name NUL", "{d}\\NUL.exe", {"NUL.exe"}, "", ""},
    {"device name AUX", "\"{d}\\AUX.exe\" /S", {"AUX.exe"}, "", ""},
    {"device name COM1", "{d}\\com1.exe", {"com1.exe"}, "", ""},
    {"stream of the file", "{d}\\uninst.exe:s", {"uninst.exe"}, "", ""},
    {"line feed in an argument", "{d}\\uninst.exe /S\n/X", {"uninst.exe"}, "", ""},
    {"carriage return in an argument", "\"{d}\\uninst.exe\" /S\r/X", {"uninst.exe"}, "", ""},
    {"unbalanced quote in the arguments", "\"{d}\\uninst.exe\" /D=\"a b", {"uninst.exe"}, "", ""},
    {"text glued to a quoted argument", "\"{d}\\uninst.exe\" \"/a\"b", {"uninst.exe"}, "", ""},
    {"backslash before a closing quote", "\"{d}\\uninst.exe\" /D=\"C:\\x\\\"",
     {"uninst.exe"}, "", ""},
    {"undefined variable in an argument", "{d}\\uninst.exe /v=%TESSARUNE_NO_SUCH%",
     {"uninst.exe"}, "", ""},
    {"the interpreter's own variable", "{d}\\uninst.exe %CMDCMDLINE%", {"uninst.exe"}, "", ""},
    {"part of a variable", "{d}\\uninst.exe /v=%OS:~0,1%", {"uninst.exe"}, "", ""},
    {"variable named with an ampersand", "{d}\\uninst.exe /v=%Q&B% /S", {"uninst.exe"}, "", ""},
    {"variable named with a caret, quoted", "{d}\\uninst.exe \"/v=%Q^B%\"", {"uninst.exe"}, "",
     ""},
    {"variable named with a tilde", "{d}\\uninst.exe /f=%~x%", {"uninst.exe"}, "", ""},
    {"tilde name of no variable", "{d}\\uninst.exe /f=%~TESSARUNE_NO_SUCH%", {"uninst.exe"}, "",
     ""},
    {"variable's value holding a percent sign", "{d}\\uninst.exe /v=%TESSARUNE_PERCENT%",
     {"uninst.exe"}, "", ""},
    {"variable's quotes around an ampersand",
     "{d}\\uninst.exe /a=%TESSARUNE_QUOTE1% & b %TESSARUNE_QUOTE1%", {"uninst.exe"}, "", ""},
    {"ampersand after a closed quote", "{d}\\uninst.exe \"/a=x\" &b", {"uninst.exe"}, "", ""},
    {"ideographic space in an argument", "{d}\\uninst.exe /d=a\xE3\x80\x80" "b", {"uninst.exe"},
     "", ""},
    {"pipe", "\"{d}\\uninst.exe\" /S | x.exe", {"uninst.exe"}, "", ""},
    {"redirection", "\"{d}\\uninst.exe\" /S > out.txt", {"uninst.exe"}, "", ""},
    {"input redirection", "\"{d}\\uninst.exe\" < in.txt", {"uninst.exe"}, "", ""},
    {"percent sign in the name", "{d}\\un%OS%.exe", {"un%OS%.exe"}, "", ""},
    {"relative path", "Quendal\\uninst.exe", {"Quendal\\uninst.exe"}, "", ""},
    {"relative to the current folder", ".\\uninst.exe", {"uninst.exe"}, "", ""},
    {"drive-relative path", "C:uninst.exe", {"uninst.exe"}, "", ""},
    {"relative to the drive's root", "{rooted}\\uninst.exe", {"uninst.exe"}, "", ""},
    {"network path", "\\\\srv\\share\\uninst.exe", {}, "", ""},
    {"network path with slashes", "//srv/share\\Quendal\\uninst.exe", {}, "", ""},
    {"network path, mixed slashes", "\\/srv/share/uninst.exe", {}, "", ""},
    {"network path, mixed slashes the other way", "/\\srv\\share\\uninst.exe", {}, "", ""},
    {"long-path prefix", "\\\\?\\{d}\\uninst.exe", {"uninst.exe"}, "", ""},
    {"device prefix", "\\\\.\\{d}\\uninst.exe", {"uninst.exe"}, "", ""},
    {"program path of 259 characters", "{d}\\" + ProgramOfLength(259),
     {ProgramOfLength(259)}, "", ""},
    {"folder too long to be the current one", "{d}\\" + kLongName + "\\uninst.exe",
     {kLongName + "\\uninst.exe"}, "", ""},
    {"interpreter empty", "{d}\\uninst.exe", {"uninst.exe"}, "", "", ""},
    {"interpreter relative", "{d}\\uninst.exe", {"uninst.exe", "cmd.exe"}, "", "", "cmd.exe"},
    {"interpreter drive-relative", "{d}\\uninst.exe",
     {"uninst.exe", "cmd.exe"}, "", "", "C:cmd.exe"},
    {"interpreter a folder", "{d}\\uninst.exe",
     {"uninst.exe", "cmd.exe\\x"}, "", "", "{d}\\cmd.exe"},
    {"interpreter missing", "{d}\\uninst.exe", {"uninst.exe"}, "", "", "{d}\\cmd.exe"},
    {"interpreter path with an ampersand", "{d}\\uninst.exe", {"uninst.exe", "a&b\\cmd.exe"},
     "", "", "{d}\\a&b\\cmd.exe"},
    {"interpreter path with forward slashes", "{d}\\uninst.exe", {"uninst.exe", "x\\cmd.exe"},
     "", "", "{d/}/x/cmd.exe"},
};

void PrintTo(const BuildCase &test, std::ostream *out) { *out << test.title; }

class BuildTest : public testing::TestWithParam<BuildCase> {
protected:
    void SetUp() override {
        RemoveMade(Scratch());
        SetEnvironmentVariableA("TESSARUNE_FOLDER", "C:\\Data\\");
        SetEnvironmentVariableA("TESSARUNE_QUOTE", "a\"b");
        SetEnvironmentVariableA("TESSARUNE_LONG", std::string(1000, 'x').c_str());
        for (const char *const *variable : kVariables) {
            SetEnvironmentVariableA(variable[0], variable[1]);
        }
    }
    void TearDown() override { RemoveMade(Scratch()); }

    static std::string Scratch() { return TempPath(kScratchName); }

    static std::string Expand(const std::string &text) {
        const std::string expanded = Replace(text, "{d/}", Replace(Scratch(), "\\", "/"));
        return Replace(Replace(expanded, "{d}", Scratch()), "{rooted}", Scratch().substr(2));
    }
};

TEST_P(BuildTest, RunsTheRegisteredProgramOrNothing) {
    const BuildCase &test = GetParam();
    if (GetACP() != CP_UTF8 &&
        std::any_of(test.command.begin(), test.command.end(), [](char c) { return c & 0x80; })) {
        GTEST_SKIP() << "the rows are written in UTF-8";
    }
    for (const std::string &file : test.files) {
        ASSERT_TRUE(PlaceFile(Scratch() + "\\" + file)) << file;
    }
    // Relative paths would name files of the current folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(Scratch().c_str());
    const std::wstring interpreter = WideName(Expand(test.interpreter));
    wchar_t folder[1024] = L"untouched";
    wchar_t text[2048] = L"untouched";
    const bool built = BuildUninstallCommand(Expand(test.command).c_str(), interpreter.c_str(),
                                             folder, 1024, text, 2048);
    SetCurrentDirectoryA(previous);
    ASSERT_EQ(built, !test.folder.empty()) << std::wstring(text);
    if (built) {
        EXPECT_EQ(std::wstring(folder), WideName(Expand(test.folder)));
        EXPECT_EQ(std::wstring(text), WideName("\"" + Expand(test.interpreter) +
                                               "\" /d /v:off /s /c \"" + Expand(test.program) +
                                               " /uninst\""));
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, BuildTest, testing::ValuesIn(kBuildCases),
                         [](const testing::TestParamInfo<BuildCase> &test) {
                             return CaseName(test.param.title);
                         });

TEST(BuildTextTest, NeverWritesPastTheHolders) {
    const std::string folder = TempPath(kScratchName);
    ASSERT_TRUE(PlaceFile(folder + "\\uninst.exe"));
    const std::string command = folder + "\\uninst.exe";
    const std::wstring whole =
        WideName(std::string("\"") + kInterpreter + "\" /d /v:off /s /c \".\\uninst.exe /uninst\"");
    const std::wstring interpreter = WideName(kInterpreter);
    wchar_t text[128];
    wmemset(text, L'x', 128);
    wchar_t holder[1024];
    EXPECT_FALSE(BuildUninstallCommand(command.c_str(), interpreter.c_str(), holder, 1024, text,
                                       whole.size()));
    EXPECT_EQ(text[whole.size()], L'x');
    EXPECT_TRUE(BuildUninstallCommand(command.c_str(), interpreter.c_str(), holder, 1024, text,
                                      whole.size() + 1));
    EXPECT_EQ(std::wstring(text), whole);
    EXPECT_FALSE(BuildUninstallCommand(command.c_str(), interpreter.c_str(), holder,
                                       folder.size(), text, 128));
    RemoveMade(folder);
}

}  // namespace
