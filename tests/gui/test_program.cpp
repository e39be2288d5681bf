// The real program under the test run's X server, driven like a user would:
// menu clicks, typed file names, mouse buttons, wheel and keys, checked
// through its trace lines and screenshots of what it draws.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <iostream>
#include <regex>

#include "program_driver.h"

namespace {

using namespace std::chrono_literals;
using gui::Frame;
using gui::screenX;
using gui::screenY;

// A drawn axis is a dark column over most of its 0.1..0.9 height.
bool axisDrawnAt(const Frame& f, int x, int dx = 2) {
    const int top = screenY(0.88), bottom = screenY(0.12);
    return f.darkRowsNear(x, dx, top, bottom) > (bottom - top) * 9 / 10;
}
bool noAxisAt(const Frame& f, int x, int dx = 2) {
    const int top = screenY(0.88), bottom = screenY(0.12);
    return f.darkRowsNear(x, dx, top, bottom) < (bottom - top) / 3;
}

class ProgramTest : public gui::RunningProgramTest {
protected:
    // Opens a table of the working directory and waits for its axes.
    void openTable(const std::string& name, const std::vector<double>& axes) {
        std::string error;
        ASSERT_TRUE(driver.openFile(name, &error)) << error;
        Frame frame;
        const bool drawn = driver.waitForFrame(
            "axes-" + name, [&](const Frame& f) {
                for (double u : axes)
                    if (!axisDrawnAt(f, screenX(u))) return false;
                return true;
            },
            10s, &frame);
        ASSERT_TRUE(drawn) << "the axes of " << name << " were not drawn; see " << frame.path;
    }

    void quitAndExpectCleanExit() {
        ASSERT_TRUE(driver.quitThroughMenu()) << "could not use File/Quit";
        // Quit ends the process at once, so the pipe closes with it.
        const int status = driver.waitForExit(10s);
        EXPECT_EQ(status, 0) << "File/Quit should end the program with status 0";
    }

    // Waits for a line with exactly this text written after `from`.
    void expectLine(const std::string& text, std::size_t from, std::chrono::milliseconds t = 5s) {
        EXPECT_TRUE(driver.waitForLine([&](const std::string& l) { return l == text; }, t, from))
            << "missing trace line \"" << text << "\"";
    }
};

TEST_F(ProgramTest, StartsOpensAFileShowsItsAxesAndQuits) {
    for (const char* image : {"1.bmp", "2.bmp", "3.bmp", "straw.bmp"}) {
        expectLine(std::string("load successful ") + image, 0);
        expectLine(std::string(" init texture success ") + image, 0);
    }

    const Frame empty = driver.screenshot("empty");
    ASSERT_TRUE(empty.valid()) << "no screenshot";
    EXPECT_TRUE(noAxisAt(empty, screenX(0.1))) << "no table is loaded at start-up";

    // small.txt has two dimensions: axes at 0.1 and 0.93 of the width.
    ASSERT_NO_FATAL_FAILURE(openTable("small.txt", {0.1, 0.93}));
    const Frame frame = driver.screenshot("small");
    EXPECT_TRUE(noAxisAt(frame, screenX(0.5))) << "only two axes: " << frame.path;
    EXPECT_TRUE(driver.running());

    quitAndExpectCleanExit();
}

TEST_F(ProgramTest, MenuShowsAboutAndHelpAndCloseEmptiesTheTable) {
    EXPECT_FALSE(driver.windowShown("About")) << "About stays hidden until asked for";
    EXPECT_FALSE(driver.windowShown("Help"));
    // Without a window manager both windows open over the menu bar: each is
    // moved aside once it is seen.
    ASSERT_TRUE(driver.chooseMenu(1, 0));
    EXPECT_TRUE(driver.waitForFrame("about", [&](const Frame&) { return driver.windowShown("About"); }, 5s));
    ASSERT_TRUE(driver.moveWindow("About", 1300, 700));
    ASSERT_TRUE(driver.chooseMenu(1, 1));
    EXPECT_TRUE(driver.waitForFrame("help", [&](const Frame&) { return driver.windowShown("Help"); }, 5s));
    ASSERT_TRUE(driver.moveWindow("Help", 1300, 700));
    driver.pause(300ms);

    ASSERT_NO_FATAL_FAILURE(openTable("small.txt", {0.1, 0.93}));
    std::string error;
    ASSERT_TRUE(driver.cancelOpen(&error)) << error;
    driver.pause(500ms);
    const Frame kept = driver.screenshot("cancelled");
    EXPECT_TRUE(axisDrawnAt(kept, screenX(0.1)) && axisDrawnAt(kept, screenX(0.93)))
        << "cancelling the chooser keeps the table: " << kept.path;

    ASSERT_TRUE(driver.chooseMenu(0, 1));  // File/Close
    Frame closed;
    EXPECT_TRUE(driver.waitForFrame("closed", [&](const Frame& f) { return noAxisAt(f, screenX(0.1)); }, 5s,
                                    &closed))
        << "File/Close should leave an empty plot: " << closed.path;
    EXPECT_TRUE(driver.running());
}

// iris.txt shows five dimensions: axes at 0.1, 0.3075, 0.515, 0.7225 and 0.93.
TEST_F(ProgramTest, MouseAndKeyboardDriveTheView) {
    const std::vector<double> axes{0.1, 0.3075, 0.515, 0.7225, 0.93};
    ASSERT_NO_FATAL_FAILURE(openTable("iris.txt", axes));
    const int regionX = screenX(0.2), regionY = screenY(0.5);
    const std::string at = std::to_string(regionX - gui::drawingLeft) + " " +
                           std::to_string(regionY - gui::drawingTop);
    // Hover details off: the box of a resting pointer's record would cover
    // the pixels counted below.
    ASSERT_TRUE(driver.moveTo(regionX, regionY));
    ASSERT_TRUE(driver.key("h"));
    expectLine("keyboard h 104 " + at, 0);

    // Middle click next to the first record on the first axis (5.1 of
    // 4.3..7.9, widened by 2 %): it is highlighted in red.
    {
        const double v = 0.1 + 0.8 * (5.1 - 4.228) / 3.744;
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.moveTo(screenX(0.1) + 2, screenY(v)));
        ASSERT_TRUE(driver.click(2));
        std::string line;
        ASSERT_TRUE(driver.waitForLine(
            [](const std::string& l) { return l.find("  distance  ") != std::string::npos; }, 5s,
            from, &line))
            << "the middle click highlighted nothing";
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"((\d+)  distance  ([0-9.e+-]+))"))) << line;
        EXPECT_LE(std::stod(m[2]), std::sqrt(50.0));
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "highlight", [](const Frame& f) {
                return f.count(screenX(0.1) - 5, screenY(0.9), screenX(0.95), screenY(0.1),
                               [](gui::Rgb c) { return c.reddish(); }) > 100;
            },
            5s, &frame))
            << "no red highlighted record in " << frame.path;
    }

    // Double click in region 0: its scatterplot opens over one second.
    {
        const Frame before = driver.screenshot("before-scatter");
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.moveTo(regionX, regionY));
        driver.pause(400ms);
        ASSERT_TRUE(driver.click(1, 2, 80));
        expectLine("mouse button 0 0 " + at, from);
        EXPECT_TRUE(driver.waitForLineStartingWith("total frame ", 4s, from))
            << "the transition did not end within 4 s";
        const Frame after = driver.screenshot("after-scatter");
        auto darkInRegion = [](const Frame& f) {
            return f.count(screenX(0.1) + 8, screenY(0.88), screenX(0.3075) - 8, screenY(0.12),
                           [](gui::Rgb c) { return c.dark(70); });
        };
        EXPECT_GT(darkInRegion(after), darkInRegion(before) + 300)
            << "no scatterplot points in " << after.path << " (before: " << before.path << ")";
    }

    // Keys go to the drawing area under the pointer; each writes its line.
    {
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.key("w"));
        ASSERT_TRUE(driver.key("x"));
        ASSERT_TRUE(driver.key("x"));
        ASSERT_TRUE(driver.key("Prior"));
        expectLine("keyboard w 119 " + at, from);
        expectLine("keyboard x 120 " + at, from);
        expectLine("keyboard U 65365 " + at, from);
        // The region's curves have faded behind its scatterplot under the pointer.
        const std::vector<std::string> lines = driver.outputLines();
        std::string printed;
        for (std::size_t i = 0; i + 1 < lines.size(); ++i)
            if (lines[i] == "keyboard U 65365 " + at) printed = lines[i + 1];
        EXPECT_TRUE(std::regex_match(printed, std::regex(R"(0(\.\d+)?|1)")))
            << "Page Up prints the region's opacity, got \"" << printed << "\"";
    }

    // ALT drag of the second axis to 0.62 of the width.
    {
        const std::size_t from = driver.mark();
        const int fromX = screenX(0.3075), toX = screenX(0.62);
        ASSERT_TRUE(driver.moveTo(fromX, regionY));
        ASSERT_TRUE(driver.keyDown("alt"));
        ASSERT_TRUE(driver.press(1));
        ASSERT_TRUE(driver.dragTo(toX, regionY));
        ASSERT_TRUE(driver.release(1));
        ASSERT_TRUE(driver.keyUp("alt"));
        const std::string y = std::to_string(regionY - gui::drawingTop);
        expectLine("mouse button 0 0 " + std::to_string(fromX - gui::drawingLeft) + " " + y, from);
        expectLine("mouse button 0 1 " + std::to_string(toX - gui::drawingLeft) + " " + y, from);
        EXPECT_TRUE(driver.waitForLineStartingWith("keyboard ", 2s, from))
            << "the ALT key itself is traced";
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "axis-drag", [&](const Frame& f) { return axisDrawnAt(f, toX, 8) && noAxisAt(f, fromX); }, 5s,
            &frame))
            << "the axis did not follow the drag: " << frame.path;
    }

    // Wheel up over the region right of 0.7225: the neighbours glide apart.
    {
        const std::size_t from = driver.mark();
        const int wheelX = screenX(0.826);
        ASSERT_TRUE(driver.moveTo(wheelX, regionY));
        ASSERT_TRUE(driver.click(4));
        expectLine("mouse button 3 0 " + std::to_string(wheelX - gui::drawingLeft) + " " +
                       std::to_string(regionY - gui::drawingTop),
                   from);
        EXPECT_TRUE(driver.waitForLineStartingWith("time pass  ", 5s, from)) << "no glide";
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "wheel", [&](const Frame& f) {
                return noAxisAt(f, screenX(0.7225), 1) && axisDrawnAt(f, screenX(0.7108), 3);
            },
            5s, &frame))
            << "the axis left of the wheel did not move out to about 0.711: " << frame.path;
    }

    // Right drag reports its rectangle in GL window pixels; ALT alone the viewport.
    {
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.moveTo(gui::drawingLeft + 250, gui::drawingTop + 80));
        ASSERT_TRUE(driver.press(3));
        ASSERT_TRUE(driver.dragTo(gui::drawingLeft + 450, gui::drawingTop + 190));
        ASSERT_TRUE(driver.release(3));
        expectLine(" snap screen 250 310 200 110", from);
        ASSERT_TRUE(driver.keyDown("alt"));
        ASSERT_TRUE(driver.click(3));
        ASSERT_TRUE(driver.keyUp("alt"));
        expectLine(" snap screen 0 0 1180 500", from);
    }

    // A left drag without ALT draws the stroke ribbon while the button is held.
    {
        const int x0 = screenX(0.56), y0 = screenY(0.85), y1 = screenY(0.2);
        const int midX = x0 + 20, midY = (y0 + y1) / 2;
        auto darkOnPath = [&](const Frame& f) {
            return f.count(midX - 8, midY - 4, midX + 8, midY + 4,
                           [](gui::Rgb c) { return c.dark(100); });
        };
        ASSERT_TRUE(driver.moveTo(x0, y0));
        driver.pause(400ms);
        const Frame before = driver.screenshot("before-stroke");
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.press(1));
        ASSERT_TRUE(driver.dragTo(x0 + 40, y1, 12));
        EXPECT_TRUE(driver.waitForLineStartingWith("intersect test  0", 3s, from));
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "stroke", [&](const Frame& f) { return darkOnPath(f) > darkOnPath(before) + 15; }, 5s,
            &frame))
            << "no stroke ribbon under the drag: " << frame.path << " (before: " << before.path
            << ")";
        ASSERT_TRUE(driver.release(1));
    }

    EXPECT_TRUE(driver.running()) << "the program ended on its own";
    quitAndExpectCleanExit();
}

// ALT drag of the last axis's indicator onto region 1 of iris.txt: an MDS
// plot of three dimensions iterates and settles; N takes it away again.
TEST_F(ProgramTest, DroppedIndicatorBuildsAnMdsPlotThatNRemoves) {
    ASSERT_NO_FATAL_FAILURE(openTable("iris.txt", {0.1, 0.3075, 0.515, 0.7225, 0.93}));
    const int discY = screenY(1.0 / 30), markerX = screenX(0.3075 + (0.515 - 0.3075) / 4);
    // Pixels of the red member marker and of the green halves of the region's indicators.
    auto marks = [&](const Frame& f) {
        auto near = [&](int x, auto test) { return f.count(x - 5, discY - 4, x + 5, discY + 4, test); };
        auto green = [](gui::Rgb c) { return c.g > 100 && c.g - c.r > 40 && c.g - c.b > 40; };
        return std::array<int, 3>{
            near(markerX, [](gui::Rgb c) { return c.r > 150 && c.r - c.g > 50 && c.r - c.b > 50; }),
            near(screenX(0.3075) + 4, green), near(screenX(0.515) - 4, green)};
    };
    auto shown = [&](const Frame& f) {
        const auto n = marks(f);
        return n[0] > 10 && n[1] > 4 && n[2] > 4;
    };
    auto gone = [&](const Frame& f) { return marks(f) == std::array<int, 3>{0, 0, 0}; };
    const std::size_t from = driver.mark();
    ASSERT_TRUE(driver.moveTo(screenX(0.93), discY));
    ASSERT_TRUE(driver.keyDown("Alt_L"));
    ASSERT_TRUE(driver.press(1));
    ASSERT_TRUE(driver.dragTo(screenX(0.41), discY));
    ASSERT_TRUE(driver.release(1));
    ASSERT_TRUE(driver.keyUp("Alt_L"));
    expectLine("MDS stress  0", from);

    // Frames until the lines stop: none new for a second.
    std::vector<std::string> frames, previous{""};
    for (int waited = 0; waited < 120 && frames != previous; ++waited) {
        previous = frames;
        driver.pause(1000ms);
        frames.clear();
        for (const std::string& l : driver.outputLines())
            if (l.rfind("ShowAxis ", 0) == 0) frames.push_back(l);
    }
    ASSERT_GT(frames.size(), 10u) << "the MDS plot did not iterate";
    std::smatch m;
    ASSERT_TRUE(std::regex_match(frames.back(), m,
                                 std::regex(R"(ShowAxis \d+  frame  (\d+)    MDS stress  ([0-9.e+-]+))")))
        << frames.back();
    EXPECT_LE(std::stoi(m[1]), 500);
    Frame frame;
    EXPECT_TRUE(driver.waitForFrame("mds", shown, 5s, &frame)) << "no MDS marks in " << frame.path;

    const std::size_t beforeN = driver.mark();
    ASSERT_TRUE(driver.moveTo(screenX(0.41), screenY(0.5)));
    ASSERT_TRUE(driver.key("n"));
    expectLine(" MDS shutdown", beforeN);
    EXPECT_TRUE(driver.waitForFrame("mds-gone", gone, 5s, &frame))
        << "the MDS marks stayed after N: " << frame.path;
    EXPECT_TRUE(driver.running());
}

}  // namespace
