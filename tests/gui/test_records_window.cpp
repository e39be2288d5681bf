// Hover details and the records window in the real program: the box of a
// resting pointer's record, key O and View/Records, a row click.

#include <gtest/gtest.h>

#include "program_driver.h"

namespace {

using namespace std::chrono_literals;
using gui::Frame;
using gui::screenX;
using gui::screenY;

class RecordsWindowTest : public gui::RunningProgramTest {};

TEST_F(RecordsWindowTest, HoverBoxRecordsWindowAndRowClick) {
    std::string error;
    ASSERT_TRUE(driver.openFile("small.txt", &error)) << error;
    const int top = screenY(0.88), bottom = screenY(0.12);
    ASSERT_TRUE(driver.waitForFrame(
        "table", [&](const Frame& f) { return f.darkRowsNear(screenX(0.1), 2, top, bottom) > (bottom - top) * 9 / 10; },
        10s));

    // Record a (age 30, score 0.5) crosses the middle of the only region at
    // about 0.362 of the height; the box comes to the pointer's lower right.
    const int x = screenX(0.5), y = screenY(0.362);
    ASSERT_TRUE(driver.moveTo(x - 20, y));
    ASSERT_TRUE(driver.moveTo(x, y));
    const auto boxPixel = [](gui::Rgb c) { return c.r > 245 && c.g > 245 && c.b > 215 && c.b < 240; };
    Frame frame;
    EXPECT_TRUE(driver.waitForFrame(
        "hover", [&](const Frame& f) { return f.count(x, y, x + 150, y + 80, boxPixel) > 500; }, 5s, &frame))
        << "no box beside the resting pointer: " << frame.path;

    ASSERT_TRUE(driver.key("o"));
    ASSERT_TRUE(driver.waitForFrame("records", [&](const Frame&) { return driver.windowShown("Korvelline records"); }, 5s))
        << "key O opens the records window";
    ASSERT_TRUE(driver.moveWindow("Korvelline records", 300, 580));
    driver.pause(500ms);
    const std::size_t from = driver.mark();
    // The first row: under the count line and the headings.
    ASSERT_TRUE(driver.moveTo(400, 580 + 22 + 20 + 9) && driver.click(1));
    EXPECT_TRUE(driver.waitForLine([](const std::string& l) { return l == "0  distance  0"; }, 5s, from))
        << "a row click writes the middle click's line";

    ASSERT_TRUE(driver.key("Escape"));
    EXPECT_TRUE(driver.waitForFrame("closed", [&](const Frame&) { return !driver.windowShown("Korvelline records"); }, 5s));
    ASSERT_TRUE(driver.chooseMenu(3, 0));
    EXPECT_TRUE(driver.waitForFrame("reopened", [&](const Frame&) { return driver.windowShown("Korvelline records"); }, 5s))
        << "View/Records opens it again";
}

}  // namespace
