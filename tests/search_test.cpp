// The search for the product's entry, run against the real registry of the test prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "uninstall_search.h"

namespace {

const char kCommand[] = "C:\\Apps\\Quendal\\remove.exe";
const char kLaterCommand[] = "C:\\Apps\\Quendal 2\\remove.exe";

struct Entry {
    std::string name;  // after EntryPrefix(); entries are enumerated in name order
    std::vector<RegistryValue> values;
};

struct SearchCase {
    const char *title;
    std::vector<Entry> entries;
    std::string expected;  // empty: the search finds nothing
    bool legacyCodePage = false;  // holds only where the code page is not UTF-8
};

RegistryValue Raw(const char *name, DWORD type, const std::string &bytes) {
    return {name, type, bytes};
}

Entry Product(const char *name, const std::string &command) {
    return {name, {Text("DisplayName", "Quendal"), Text("UninstallString", command)}};
}

Entry Named(const std::string &displayName) {
    return {"1", {Text("DisplayName", displayName), Text("UninstallString", kCommand)}};
}

// A product entry after the one under test: the walk must go on past a passed-over entry.
const Entry kLaterProduct = Product("2", kLaterCommand);

std::vector<RegistryValue> RealisticValues() {
    return {Text("DisplayIcon", "C:\\Apps\\Quendal\\quendal.exe"),
            Text("DisplayVersion", "4.2.0"),
            Text("Publisher", "Orvanex"),
            Text("InstallLocation", "C:\\Apps\\Quendal"),
            Text("URLInfoAbout", "https://orvanex.example/quendal"),
            Raw("EstimatedSize", REG_DWORD, std::string("\x00\x08\x00\x00", 4)),
            Raw("NoModify", REG_DWORD, std::string("\x01\x00\x00\x00", 4)),
            Text("UninstallString", kCommand),
            Text("DisplayName", "Quendal")};
}

const std::string kCommand511 = "C:\\" + std::string(497, 'q') + "\\remove.exe";

// The text, its terminator and filler: size bytes in all. Wide: the text in UTF-16.
std::string Padded(const std::string &text, size_t size, bool wide = false) {
    std::string bytes = text + '\0';
    if (wide) {
        const std::u16string utf16 = Utf16(text) + u'\0';
        bytes.assign(reinterpret_cast<const char *>(utf16.data()), utf16.size() * 2);
    }
    return bytes + std::string(size - bytes.size(), 'f');
}

Entry WithDisplayName(DWORD type, const std::string &data) {
    return {"1", {{"DisplayName", type, data, type == REG_SZ}, Text("UninstallString", kCommand)}};
}

const SearchCase kSearchCases[] = {
    {"no product entry", {}, ""},
    {"exact display name", {Product("1", kCommand)}, kCommand},
    {"first of two products wins", {Product("1", kCommand), kLaterProduct}, kCommand},
    {"other letter case", {Named("quendal"), kLaterProduct}, kLaterCommand},
    {"trailing blank", {Named("Quendal "), kLaterProduct}, kLaterCommand},
    {"leading blank", {Named(" Quendal"), kLaterProduct}, kLaterCommand},
    {"longer name", {Named("Quendal Pro"), kLaterProduct}, kLaterCommand},
    {"shorter name", {Named("Quenda"), kLaterProduct}, kLaterCommand},
    {"empty display name", {Named(""), kLaterProduct}, kLaterCommand},
    {"missing command",
     {{"1", {Text("DisplayName", "Quendal")}}, kLaterProduct},
     kLaterCommand},
    {"empty command",
     {{"1", {Text("DisplayName", "Quendal"), Text("UninstallString", "")}}, kLaterProduct},
     kLaterCommand},
    {"missing display name", {{"1", {Text("UninstallString", kCommand)}}, kLaterProduct},
     kLaterCommand},
    {"entry without values", {{"1", {}}, kLaterProduct}, kLaterCommand},
    {"display name value named in other case",
     {{"1", {Text("displayname", "Quendal"), Text("UninstallString", kCommand)}},
      kLaterProduct},
     kLaterCommand},
    {"command value named in other case",
     {{"1", {Text("DisplayName", "Quendal"), Text("UNINSTALLSTRING", kCommand)}},
      kLaterProduct},
     kLaterCommand},
    {"command stored before display name",
     {{"1", {Text("UninstallString", kCommand), Text("DisplayName", "Quendal")}}},
     kCommand},
    {"realistic entry with many values", {{"1", RealisticValues()}}, kCommand},
    {"expandable display name compared as stored",
     {{"1",
       {Raw("DisplayName", REG_EXPAND_SZ, std::string("Quendal", 8)),
        Text("UninstallString", kCommand)}}},
     kCommand},
    {"expandable command expanded",
     {{"1",
       {Text("DisplayName", "Quendal"),
        Raw("UninstallString", REG_EXPAND_SZ, std::string("%ProgramFiles%\\Q\\u.exe", 23))}}},
     Setting("ProgramFiles") + "\\Q\\u.exe"},
    {"multi-string command of two strings",
     {{"1",
       {Text("DisplayName", "Quendal"),
        Raw("UninstallString", REG_MULTI_SZ, kCommand + std::string("\0/S\0\0", 5))}},
      kLaterProduct},
     kLaterCommand},
    {"expandable command with two variables",
     {{"1",
       {Text("DisplayName", "Quendal"),
        Raw("UninstallString", REG_EXPAND_SZ,
            std::string("%ProgramFiles%\\Q\\u.exe /d=%ProgramFiles%", 41))}}},
     Setting("ProgramFiles") + "\\Q\\u.exe /d=" + Setting("ProgramFiles")},
    // Read on from the second "%" of "%%", it names OS.
    {"expandable command with a doubled percent sign beside a variable",
     {{"1",
       {Text("DisplayName", "Quendal"),
        Raw("UninstallString", REG_EXPAND_SZ, kCommand + std::string(" /a=%%OS%%", 11))}},
      kLaterProduct},
     kLaterCommand},
    // The interpreter would replace the %OS% that the value puts there.
    {"expandable command whose variable holds a percent sign",
     {{"1",
       {Text("DisplayName", "Quendal"),
        Raw("UninstallString", REG_EXPAND_SZ,
            kCommand + std::string(" /v=%TESSARUNE_PERCENT%", 24))}},
      kLaterProduct},
     kLaterCommand},
    {"text stored without terminator",
     {{"1", {Raw("DisplayName", REG_SZ, "Quendal"), Raw("UninstallString", REG_SZ, kCommand)}}},
     kCommand},
    {"binary display name without terminator",
     {{"1", {Raw("DisplayName", REG_BINARY, "Quendal"), Text("UninstallString", kCommand)}}},
     kCommand},
    {"multi-string display name",
     {{"1",
       {Raw("DisplayName", REG_MULTI_SZ, std::string("Quendal\0\0", 9)),
        Text("UninstallString", kCommand)}}},
     kCommand},
    {"number as display name",
     {{"1",
       {Raw("DisplayName", REG_DWORD, std::string("Quen", 4)),
        Text("UninstallString", kCommand)}},
      kLaterProduct},
     kLaterCommand},
    {"huge display name",
     {Named("Quendal" + std::string(70000, ' ')), kLaterProduct},
     kLaterCommand},
    {"511-character command carried whole", {Product("1", kCommand511)}, kCommand511},
    {"512-character command never cut",
     {Product("1", kCommand511 + "x"), kLaterProduct},
     kLaterCommand},
    // At the size of the one display-name query and of the value holders, and past them.
    {"binary display name of 511 bytes", {WithDisplayName(REG_BINARY, Padded("Quendal", 511))},
     kCommand},
    {"binary display name of 512 bytes", {WithDisplayName(REG_BINARY, Padded("Quendal", 512))},
     kCommand},
    {"binary display name of 513 bytes", {WithDisplayName(REG_BINARY, Padded("Quendal", 513))},
     kCommand},
    {"text display name of 512 bytes",
     {WithDisplayName(REG_SZ, Padded("Quendal", 512, true))}, kCommand},
    {"text display name of 514 bytes",
     {WithDisplayName(REG_SZ, Padded("Quendal", 514, true))}, kCommand},
    {"binary display name of 512 bytes, no terminator",
     {WithDisplayName(REG_BINARY, "Quendal" + std::string(505, ' ')), kLaterProduct},
     kLaterCommand},
    {"binary command of 511 bytes, no terminator",
     {{"1", {Text("DisplayName", "Quendal"), Raw("UninstallString", REG_BINARY, kCommand511)}}},
     kCommand511},
    {"binary command of 512 bytes, no terminator",
     {{"1", {Text("DisplayName", "Quendal"),
             Raw("UninstallString", REG_BINARY, kCommand511 + "x")}},
      kLaterProduct},
     kLaterCommand},
    // Windows would read it as "Quendal": a look-alike for each letter.
    {"display name in full-width letters",
     {{"1", {Wide("DisplayName", u"\uFF31\uFF55\uFF45\uFF4E\uFF44\uFF41\uFF4C"),
             Text("UninstallString", kCommand)}},
      kLaterProduct},
     kLaterCommand},
    {"command with a letter outside the code page",
     {{"1", {Text("DisplayName", "Quendal"),
             Wide("UninstallString", u"C:\\Apps\\Quendal\U0001F600\\remove.exe")}},
      kLaterProduct},
     kLaterCommand, true},
    {"command with a lone surrogate",
     {{"1", {Text("DisplayName", "Quendal"),
             Wide("UninstallString", std::u16string(u"C:\\Apps\\Q") + char16_t(0xD800) +
                                         u"\\remove.exe")}},
      kLaterProduct},
     kLaterCommand},
    // Its whole path has 307 characters: Wine's ANSI registry calls refuse to open it, Windows
    // opens it; either way it holds no values and is passed over.
    {"255-character entry name does not end the walk",
     {{"1" + std::string(254 - EntryPrefix().size(), 'n'), {}}, kLaterProduct},
     kLaterCommand},
};

void PrintTo(const SearchCase &test, std::ostream *out) { *out << test.title; }

class SearchTest : public testing::TestWithParam<SearchCase> {
protected:
    void SetUp() override {
        RemoveTestEntries();
        SetEnvironmentVariableA("TESSARUNE_PERCENT", "%OS%");
    }
    void TearDown() override { RemoveTestEntries(); }
};

TEST_P(SearchTest, FindsTheFirstUsableProductEntry) {
    if (GetParam().legacyCodePage && GetACP() == CP_UTF8) {
        GTEST_SKIP() << "UTF-8 holds every character";
    }
    for (const Entry &entry : GetParam().entries) {
        ASSERT_TRUE(WriteEntry(EntryPrefix() + entry.name, entry.values)) << entry.name;
    }
    char out[1024];
    memset(out, 'x', sizeof out);
    const bool found = FindUninstallCommand(out, sizeof out);
    EXPECT_EQ(found, !GetParam().expected.empty());
    EXPECT_EQ(std::string(out), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Entries, SearchTest, testing::ValuesIn(kSearchCases),
                         [](const testing::TestParamInfo<SearchCase> &test) {
                             return CaseName(test.param.title);
                         });

TEST_F(SearchTest, SeesOnlyTheViewOfA32BitProgram) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        GTEST_SKIP() << "32-bit Windows has one registry view";
    }
    ASSERT_TRUE(WriteEntry(EntryPrefix() + "1", Product("1", kCommand).values,
                           KEY_WOW64_64KEY));
    char out[1024];
    EXPECT_FALSE(FindUninstallCommand(out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST_F(SearchTest, HandsOutNoCommandCutToTheCallersBuffer) {
    ASSERT_TRUE(WriteEntry(EntryPrefix() + "1", Product("1", kCommand).values));
    char out[sizeof kCommand + 1];
    memset(out, 'x', sizeof out);
    EXPECT_FALSE(FindUninstallCommand(out, sizeof kCommand - 1));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(out[sizeof kCommand], 'x') << "written past the size given";
    EXPECT_TRUE(FindUninstallCommand(out, sizeof kCommand));
    EXPECT_STREQ(out, kCommand);
}

}  // namespace
