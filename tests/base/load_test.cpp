// The library loads, shows its marker and runs its load sequence once per image.
#include <windows.h>

#include "osse/osse.h"
#include "osse_test.h"

TEST(Load, MarkerIsExportedAndSet)
{
    HMODULE dll = GetModuleHandleA("NRVOSSE.dll");
    ASSERT_NE(dll, nullptr);
    auto marker = reinterpret_cast<int*>(GetProcAddress(dll, "sqlzThisIsANRVLibrary"));
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker, &sqlzThisIsANRVLibrary);
}

TEST(Load, OneTimeOnlyMayBeCalledAnyNumberOfTimes)
{
    for (int i = 0; i < 3; ++i) ossOneTimeOnly();
    SUCCEED();
}

OSSE_CHILD_ROLE(exit_with)
{
    return args.empty() ? 1 : atoi(args[0].c_str());
}

TEST(Harness, ChildProcessReturnsItsExitCode)
{
    EXPECT_EQ(ossetest::runChild("exit_with", {"42"}), 42);
    EXPECT_EQ(ossetest::runChild("exit_with", {"7"}), 7);
}

OSSE_CHILD_ROLE(print_env)
{
    const char* v = getenv(args.at(0).c_str());
    return v ? atoi(v) : 0;
}

TEST(Harness, ChildEnvironmentIsApplied)
{
    EXPECT_EQ(ossetest::runChild("print_env", {"OSSE_TEST_VALUE"}, {"OSSE_TEST_VALUE=17"}), 17);
    EXPECT_EQ(ossetest::runChild("print_env", {"OSSE_TEST_VALUE"}, {"OSSE_TEST_VALUE="}), 0);
}
