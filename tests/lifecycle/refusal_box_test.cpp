// The box of a refused command line, under Wine: a long path in the reason is broken at its
// backslashes, so that the box stays within the screen; the text is the reason and the usage.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "../common/gui_driver.h"
#include "lifecycle/command_line_win32.h"

namespace {

TEST(RefusalBox, ALongPathInTheReasonIsBrokenSoThatTheBoxStaysWithinTheScreen) {
    const std::string path = gui::LongPath("/C:", 250);
    const std::string reason = "Unknown switch " + path;
    const gui::SeenBox box = gui::ShowAndReadBox("Refusal box width", [&reason] {
        RefuseCommandLine("refusal_box_test", "Refusal box width", reason, "The usage.", true);
    });
    const std::string& shown = box.text;
    ASSERT_TRUE(box.found);
    EXPECT_GE(box.bounds.left, 0);
    EXPECT_LE(box.bounds.right, ::GetSystemMetrics(SM_CXSCREEN));
    // The box breaks lines at blanks only (Wine's also cuts a word wider than the screen): the
    // path itself is broken into runs that fit half the screen, in characters of at least 5 pixels.
    const gui::BoxLines lines = gui::ReadBoxLines(shown);
    EXPECT_LE(lines.longestRun, static_cast<size_t>(::GetSystemMetrics(SM_CXSCREEN) / 2 / 5)) << shown;
    EXPECT_NE(lines.joined.find(reason), std::string::npos) << shown;
    EXPECT_NE(lines.joined.find("The usage."), std::string::npos) << shown;
}

}  // namespace
