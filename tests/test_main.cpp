// GoogleTest's entry point, with a closing line "N passed, M failed" for run-checks.cmd and
// whoever reads its output.
#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (!GTEST_FLAG_GET(list_tests)) {
        const testing::UnitTest &tests = *testing::UnitTest::GetInstance();
        printf("%d passed, %d failed\n", tests.successful_test_count(),
               tests.failed_test_count());
    }
    return status;
}
