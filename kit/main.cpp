// GoogleTest's entry point, with a closing line "N passed, M failed, K skipped" for run-checks.cmd
// and whoever reads its output. Before any test writes anything, the checks look at the machine and
// refuse, with status 2, where they would touch what is not theirs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "guard.h"
#include "run.h"
#include "settings.h"

namespace {

const int kRefusedStatus = 2;
// run-checks.cmd asks with this argument whether it may use its settings, before it does.
const char kSettingsArgument[] = "--tessarune_settings";

}  // namespace

// GoogleTest writes each failure and skip it prints to the debugger too. Wine's
// OutputDebugStringA raises an exception for that, which ends the process where qemu-i386
// runs Wine's 32-bit half (kernels without 32-bit x86): the checks' calls to it go nowhere.
extern "C" void WINAPI QuietDebugString(LPCSTR) {}
extern "C" void(WINAPI *const kImportedDebugString)(LPCSTR) __asm__(
    "__imp__OutputDebugStringA@4") = QuietDebugString;

int main(int argc, char **argv) {
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
    const int status = RUN_ALL_TESTS();
    if (!ReleaseRunFolder()) {
        printf("Their own delete-on-reboot records remain: PendingFileRenameOperations holds "
               "records that cannot be read as pairs, and it is left as it was.\n");
    }
    const testing::UnitTest &tests = *testing::UnitTest::GetInstance();
    printf("%d passed, %d failed, %d skipped\n", tests.successful_test_count(),
           tests.failed_test_count(), tests.skipped_test_count());
    return status;
}
