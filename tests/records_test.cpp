// The delete-on-reboot records a run of the checks leaves to others: byte for byte, or the
// value untouched where it cannot be read as pairs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

const wchar_t kRunFolder[] = L"C:\\Users\\Administrator\\AppData\\Local\\Temp\\TessaruneTest-1";
const wchar_t kRunFolderShort[] = L"C:\\Users\\ADMINI~1\\AppData\\Local\\Temp\\TESSAR~1";

struct RecordsCase {
    const char *title;
    std::string records;  // ASCII, | for a NUL
    std::string kept;     // the same; empty: the value is not the run's to change
};

std::string Value(const std::string &text) {
    std::string bytes;
    for (char c : text) {
        bytes += c == '|' ? '\0' : c;
        bytes += '\0';
    }
    return bytes;
}

class RecordsTest : public testing::TestWithParam<RecordsCase> {};

TEST_P(RecordsTest, KeepsOthersByteForByte) {
    const RecordsCase &test = GetParam();
    std::string kept = "(not written)";
    const bool readable =
        OthersRebootRecords(Value(test.records), {kRunFolder, kRunFolderShort}, &kept);
    EXPECT_EQ(readable, !test.kept.empty());
    if (readable) {
        EXPECT_EQ(kept, Value(test.kept));
    }
}

#define OWN "\\??\\C:\\Users\\Administrator\\AppData\\Local\\Temp\\TessaruneTest-1\\"
#define OTHER "\\??\\C:\\Windows\\Temp\\"

const RecordsCase kRecordsCases[] = {
    {"others only", OTHER "a||" OTHER "b|" OTHER "c||", OTHER "a||" OTHER "b|" OTHER "c||"},
    {"own among others", OTHER "a||" OWN "~nsu1.tmp\\Un.exe||" OTHER "b|||",
     OTHER "a||" OTHER "b|||"},
    {"own only", OWN "x||" OWN "y|||", "|"},
    {"own in the short form", "\\??\\c:\\users\\admini~1\\appdata\\local\\temp\\tessar~1\\x|||",
     "|"},
    {"a folder whose name begins like the run's", OTHER "a||"
     "\\??\\C:\\Users\\Administrator\\AppData\\Local\\Temp\\TessaruneTest-12\\x|||",
     OTHER "a||\\??\\C:\\Users\\Administrator\\AppData\\Local\\Temp\\TessaruneTest-12\\x|||"},
    {"a rename into the run's folder", OTHER "a|" OWN "a|" OWN "b|||",
     OTHER "a|" OWN "a||"},
    {"empty", "|", "|"},
    {"an empty path before the end", OTHER "a||||" OWN "x||", ""},
    {"no closing empty string", OTHER "a||" OWN "x|" OTHER "b|", ""},
    {"a path without where it goes", OTHER "a||" OWN "x|", ""},
    {"two closing empty strings", OWN "x||||", ""},
};

INSTANTIATE_TEST_SUITE_P(Records, RecordsTest, testing::ValuesIn(kRecordsCases),
                         [](const testing::TestParamInfo<RecordsCase> &test) {
                             return CaseName(test.param.title);
                         });

TEST(RecordsTest, OddByteCountIsNotTheRunsToChange) {
    std::string kept;
    EXPECT_FALSE(OthersRebootRecords(Value(OWN "x||") + '\0', {kRunFolder}, &kept));
}

}  // namespace
