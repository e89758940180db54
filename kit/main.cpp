// GoogleTest's entry point, with a closing line "N passed, M failed, K skipped" for run-checks.cmd
// and whoever reads its output. Before any test writes anything, the checks look at the machine and
// refuse, with status 2, where they would touch what is not theirs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "guard.h"
#include "run.h"
#include "settings.h"

namespace {

const int kRefusedStatus = 2;
// run-checks.cmd asks with this argument whether it may use its settings, before it does.
const char kSettingsArgument[] = "--tessarune_settings";
// GoogleTest takes settings from variables of its own and of other test runners, some
// saying where to write a report or which file to read more settings from: a run writes
// and reads only what it makes. Variables of these families go from the environment,
// which GoogleTest reads again while it runs; the settings it took from them as it started
// are set anew from kTestSettings. The filter, which only picks the tests, stays: the
// closing line says when a run tested a part.
const char *const kTestRunnerVariables[] = {"GTEST_", "TEST_", "TESTBRIDGE_", "XML_OUTPUT_FILE"};
const char kFilterVariable[] = "GTEST_FILTER";
// A row that stalls would hold its table, and a run of the kit, for good: past this it is
// named, and the run ends.
const DWORD kRowLimitMs = 5 * 60 * 1000;
const DWORD kWatchIntervalMs = 1000;
const int kStalledStatus = 3;

// The row under way, and when it began (0: none), for the watchdog's thread.
CRITICAL_SECTION gRowLock;
char gRow[512];
DWORD gRowStart = 0;

struct RowWatch : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &row) override {
        EnterCriticalSection(&gRowLock);
        snprintf(gRow, sizeof gRow, "%s.%s", row.test_suite_name(), row.name());
        gRowStart = GetTickCount() | 1;
        LeaveCriticalSection(&gRowLock);
    }
    void OnTestEnd(const testing::TestInfo &) override {
        EnterCriticalSection(&gRowLock);
        gRowStart = 0;
        LeaveCriticalSection(&gRowLock);
    }
};

// Set when the rows have run: the watchdog's thread ends before the process does, which
// qemu-i386 running Wine's 32-bit half does not survive otherwise.
HANDLE gRowsDone = nullptr;

DWORD WINAPI WatchRows(void *) {
    while (WaitForSingleObject(gRowsDone, kWatchIntervalMs) == WAIT_TIMEOUT) {
        EnterCriticalSection(&gRowLock);
        if (gRowStart != 0 && GetTickCount() - gRowStart > kRowLimitMs) {
            printf("\nThe row %s has run past %lu s: the run ends here, leaving what it made.\n",
                   gRow, kRowLimitMs / 1000);
            fflush(stdout);
            if (void *program = WatchedProgram()) {
                TerminateProcess(program, kStalledStatus);
            }
            ExitProcess(kStalledStatus);
        }
        LeaveCriticalSection(&gRowLock);
    }
    return 0;
}

HANDLE StartWatchingRows() {
    InitializeCriticalSection(&gRowLock);
    testing::UnitTest::GetInstance()->listeners().Append(new RowWatch);
    gRowsDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return gRowsDone ? CreateThread(nullptr, 0, WatchRows, nullptr, 0, nullptr) : nullptr;
}

void StopWatchingRows(HANDLE watch) {
    if (watch) {
        SetEvent(gRowsDone);
        WaitForSingleObject(watch, INFINITE);
        CloseHandle(watch);
    }
}

void SetTestSettings(const std::string &filter) {
    GTEST_FLAG_SET(also_run_disabled_tests, false);
    GTEST_FLAG_SET(break_on_failure, false);
    GTEST_FLAG_SET(catch_exceptions, true);
    GTEST_FLAG_SET(color, "auto");
    GTEST_FLAG_SET(death_test_style, "fast");
    GTEST_FLAG_SET(fail_fast, false);
    GTEST_FLAG_SET(filter, filter);
    GTEST_FLAG_SET(install_failure_signal_handler, false);
    GTEST_FLAG_SET(output, "");
    GTEST_FLAG_SET(brief, false);
    GTEST_FLAG_SET(print_time, true);
    GTEST_FLAG_SET(print_utf8, true);
    GTEST_FLAG_SET(random_seed, 0);
    GTEST_FLAG_SET(repeat, 1);
    GTEST_FLAG_SET(recreate_environments_when_repeating, false);
    GTEST_FLAG_SET(shuffle, false);
    GTEST_FLAG_SET(stack_trace_depth, 100);
    GTEST_FLAG_SET(stream_result_to, "");
    GTEST_FLAG_SET(throw_on_failure, false);
    GTEST_FLAG_SET(flagfile, "");
}

bool IsTestRunnerVariable(const std::string &name) {
    for (const char *family : kTestRunnerVariables) {
        if (_strnicmp(name.c_str(), family, strlen(family)) == 0) {
            return true;
        }
    }
    return false;
}

// Before GoogleTest reads its command line, which names the settings whoever starts the
// program chose: ctest's filter.
void OwnTestSettings() {
    const char *filter = getenv(kFilterVariable);
    SetTestSettings(filter && *filter ? filter : "*");
    std::vector<std::string> names;
    char *strings = GetEnvironmentStringsA();
    for (const char *entry = strings; *entry; entry += strlen(entry) + 1) {
        const std::string name(entry, strcspn(entry + 1, "=") + 1);
        if (IsTestRunnerVariable(name)) {
            names.push_back(name);
        }
    }
    FreeEnvironmentStringsA(strings);
    for (const std::string &name : names) {
        _putenv((name + "=").c_str());
        SetEnvironmentVariableA(name.c_str(), nullptr);
    }
}

// What the run made and could not delete, and the scratch folder where what others put
// there keeps it, in one line: the run deletes nothing else.
void PrintLeft() {
    std::vector<std::string> left = MadeAndLeft();
    const std::string scratch = Setting(kScratchVariable);
    const std::vector<std::wstring> names = NamesIn(WideName(scratch));
    if (!names.empty()) {
        left.push_back("the scratch folder " + scratch + ", which holds " + Utf8(names[0]) +
                       ", which this run did not make");
    }
    std::string line;
    for (const std::string &path : left) {
        line += (line.empty() ? "" : "; ") + path;
    }
    if (!line.empty()) {
        printf("Left as they are: %s.\n", line.c_str());
    }
}

// The closing line, and whether it counts the whole suite.
void PrintCounts() {
    const testing::UnitTest &tests = *testing::UnitTest::GetInstance();
    printf("%d passed, %d failed, %d skipped", tests.successful_test_count(),
           tests.failed_test_count(), tests.skipped_test_count());
    if (tests.test_to_run_count() < tests.total_test_count()) {
        printf(", of %d tests a filter chose from %d", tests.test_to_run_count(),
               tests.total_test_count());
    }
    printf("\n");
}

}  // namespace

// GoogleTest writes each failure and skip it prints to the debugger too. Wine's
// OutputDebugStringA raises an exception for that, which ends the process where qemu-i386
// runs Wine's 32-bit half (kernels without 32-bit x86): the checks' calls to it go nowhere.
extern "C" void WINAPI QuietDebugString(LPCSTR) {}
extern "C" void(WINAPI *const kImportedDebugString)(LPCSTR) __asm__(
    "__imp__OutputDebugStringA@4") = QuietDebugString;

int main(int argc, char **argv) {
    OwnTestSettings();
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    const bool settingsOnly = argc == 2 && strcmp(argv[1], kSettingsArgument) == 0;
    const std::string reason = settingsOnly ? ReasonToRefuseSettings() : ReasonToRefuse();
    if (!reason.empty()) {
        printf("The checks refuse to run: %s.\n", reason.c_str());
        return kRefusedStatus;
    }
    if (settingsOnly) {
        return 0;
    }
    HANDLE watch = StartWatchingRows();
    const int status = RUN_ALL_TESTS();
    StopWatchingRows(watch);
    if (!ReleaseRunFolder()) {
        printf("Their own delete-on-reboot records remain: PendingFileRenameOperations holds "
               "records that cannot be read as pairs, and it is left as it was.\n");
    }
    PrintLeft();
    PrintCounts();
    // A run that tested nothing has not passed.
    return testing::UnitTest::GetInstance()->test_to_run_count() == 0 ? 1 : status;
}
