// The restart through the elevation prompt, under Wine, whose prompt starts the program at once:
// the exit code passed on, the current folder kept, and the code a run ends with for each outcome.
#include "lifecycle/elevation_win32.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::wstring CommandInterpreter() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\cmd.exe";
}

TEST(ElevatedRun, PassesOnTheExitCodeAndStartsInTheCurrentFolder) {
    int started = 0;
    TElevatedRun run = RunElevatedAndWait(CommandInterpreter(), u"/c exit 7", [&started] { ++started; });
    EXPECT_TRUE(run.Ran);
    EXPECT_EQ(run.ExitCode, 7u);
    EXPECT_EQ(started, 1);

    // A folder of its own holding a marker: the run finds it in its current folder.
    wchar_t temporary[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathW(MAX_PATH, temporary), 0u);
    const std::wstring folder = std::wstring(temporary) + L"elevated-run-test";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring marker = folder + L"\\marker.txt";
    const HANDLE file = ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    wchar_t saved[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
    run = RunElevatedAndWait(CommandInterpreter(), u"/c if exist marker.txt (exit 3) else (exit 4)");
    ::SetCurrentDirectoryW(saved);
    ::DeleteFileW(marker.c_str());
    ::RemoveDirectoryW(folder.c_str());
    EXPECT_TRUE(run.Ran);
    EXPECT_EQ(run.ExitCode, 3u);

    // A program that is not there: no run, the reason, and nothing said to have started.
    started = 0;
    run = RunElevatedAndWait(CommandInterpreter() + L".missing.exe", u"", [&started] { ++started; });
    EXPECT_FALSE(run.Ran);
    EXPECT_NE(run.Error, 0u);
    EXPECT_EQ(started, 0);
}

TEST(ElevatedRun, TheCodeToEndWithForEachOutcome) {
    const struct {
        TElevatedRun run;
        int code;
    } rows[] = {
        {{true, 0, 0}, 0},
        {{true, 4, 0}, 4},
        {{true, 0xC0000005u, 0}, static_cast<int>(0xC0000005u)},  // the run crashed: its code
        {{false, 0, ERROR_CANCELLED}, 9},                         // the prompt answered No
        {{false, 0, ERROR_FILE_NOT_FOUND}, 4},
        {{false, 0, ERROR_ACCESS_DENIED}, 4},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RestartExitCode(row.run, 9, 4), row.code) << row.run.Ran << " " << row.run.Error;
    }
}

}  // namespace
