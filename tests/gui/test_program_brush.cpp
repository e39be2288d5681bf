// Brushing in the real program: each brush kind drawn with synthetic mouse
// strokes on the iris table, checked through trace lines and screenshots.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <vector>

#include "program_driver.h"

namespace {

using namespace std::chrono_literals;
using gui::Frame;
using gui::screenX;
using gui::screenY;

struct ViewPoint {
    double u, v;
};

// A closed-looking loop: ends 15 degrees short of its start.
std::vector<ViewPoint> loopAround(ViewPoint c, double ru, double rv) {
    std::vector<ViewPoint> points;
    for (int k = 0; k <= 23; ++k) {
        const double a = k * 15.0 * 3.14159265358979 / 180.0;
        points.push_back({c.u + ru * std::cos(a), c.v + rv * std::sin(a)});
    }
    return points;
}

class ProgramBrushTest : public gui::RunningProgramTest {
protected:
    // Presses at the first point, drags through the others, releases; the
    // pause first keeps the press from completing a double click.
    void strokeThrough(const std::vector<ViewPoint>& points, const char* modifier = nullptr) {
        driver.pause(400ms);
        ASSERT_TRUE(driver.moveTo(screenX(points[0].u), screenY(points[0].v)));
        if (modifier) {
            ASSERT_TRUE(driver.keyDown(modifier));
        }
        ASSERT_TRUE(driver.press(1));
        for (std::size_t k = 1; k < points.size(); ++k)
            ASSERT_TRUE(driver.dragTo(screenX(points[k].u), screenY(points[k].v), 3));
        ASSERT_TRUE(driver.release(1));
        if (modifier) {
            ASSERT_TRUE(driver.keyUp(modifier));
        }
    }

    void clickAt(ViewPoint p, const char* modifier = nullptr) {
        driver.pause(400ms);
        ASSERT_TRUE(driver.moveTo(screenX(p.u), screenY(p.v)));
        if (modifier) {
            ASSERT_TRUE(driver.keyDown(modifier));
        }
        ASSERT_TRUE(driver.click(1));
        if (modifier) {
            ASSERT_TRUE(driver.keyUp(modifier));
        }
    }

    void expectLine(const std::string& text, std::size_t from) {
        EXPECT_TRUE(driver.waitForLine([&](const std::string& l) { return l == text; }, 5s, from))
            << "missing trace line \"" << text << "\"";
    }

    // Pixels of the plot area between two view columns that pass the test.
    static int countIn(const Frame& f, double u0, double u1, bool (*test)(gui::Rgb)) {
        return f.count(screenX(u0) + 4, screenY(0.9), screenX(u1) - 4, screenY(0.1),
                       [test](gui::Rgb c) { return test(c); });
    }
    static bool reddish(gui::Rgb c) { return c.reddish(); }
    static bool colourful(gui::Rgb c) {
        return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 90;
    }
};

// iris.txt: axes at 0.1, 0.3075, 0.515, 0.7225 and 0.93; petal length (axis
// 2) puts the 50 setosa flowers between 0.115 and 0.233 of the height.
TEST_F(ProgramBrushTest, EachBrushKindDrawnWithTheMouse) {
    std::string error;
    ASSERT_TRUE(driver.openFile("iris.txt", &error)) << error;
    ASSERT_TRUE(driver.waitForLineStartingWith("load", 5s));
    driver.pause(500ms);
    const std::vector<ViewPoint> setosaStroke{{0.515, 0.105}, {0.515, 0.245}};

    // Paint mode after loading: pick red at the palette's bottom, paint setosa.
    {
        clickAt({0.015, 0.31});
        const Frame before = driver.screenshot("before-paint");
        const std::size_t from = driver.mark();
        ASSERT_NO_FATAL_FAILURE(strokeThrough(setosaStroke));
        expectLine("axis color brush", from);
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "painted", [&](const Frame& f) { return countIn(f, 0.1, 0.93, reddish) > countIn(before, 0.1, 0.93, reddish) + 300; },
            5s, &frame))
            << "setosa not painted red: " << frame.path;
    }

    // SHIFT click: selection mode. The axis brush leaves setosa in colour and
    // turns the rest light grey.
    {
        clickAt({0.03, 0.5}, "shift");
        driver.pause(300ms);
        const Frame before = driver.screenshot("all-selected");
        const std::size_t from = driver.mark();
        ASSERT_NO_FATAL_FAILURE(strokeThrough(setosaStroke));
        expectLine("axis brush", from);
        Frame frame;
        const int all = countIn(before, 0.7225, 0.93, colourful);
        EXPECT_GT(all, 500) << before.path;
        EXPECT_TRUE(driver.waitForFrame(
            "axis-brush", [&](const Frame& f) { return countIn(f, 0.7225, 0.93, colourful) * 10 < all * 6; }, 5s,
            &frame))
            << "the unselected records did not turn light: " << frame.path;
    }

    // CTRL "<" between the last two axes: an angular brush, added as a union.
    {
        const std::size_t from = driver.mark();
        ASSERT_NO_FATAL_FAILURE(strokeThrough({{0.89, 0.7}, {0.76, 0.5}, {0.89, 0.3}}, "ctrl"));
        expectLine("angular brush", from);
    }

    // A double click opens region 1's scatterplot; a loop inside it selects points.
    {
        driver.pause(400ms);
        ASSERT_TRUE(driver.moveTo(screenX(0.41), screenY(0.5)));
        const std::size_t opened = driver.mark();
        ASSERT_TRUE(driver.click(1, 2, 80));
        ASSERT_TRUE(driver.waitForLineStartingWith("total frame ", 4s, opened));
        const std::size_t from = driver.mark();
        ASSERT_NO_FATAL_FAILURE(strokeThrough(loopAround({0.41, 0.5}, 0.04, 0.2)));
        expectLine(" Point ", from);
        expectLine("point", from);
        expectLine("ScatterPlot brush", from);
    }

    // A loop around the last axis's indicator, below the regions, toggles it.
    {
        const std::size_t from = driver.mark();
        ASSERT_NO_FATAL_FAILURE(strokeThrough(loopAround({0.93, 1.0 / 30}, 0.02, 0.025)));
        expectLine(" sphere shpae  brush   0.93 0.0333333", from);
    }

    // F: every record selected again.
    {
        driver.pause(300ms);
        ASSERT_TRUE(driver.moveTo(screenX(0.6), screenY(0.5)));
        ASSERT_TRUE(driver.key("f"));
        Frame frame;
        EXPECT_TRUE(driver.waitForFrame(
            "cleared", [&](const Frame& f) { return countIn(f, 0.7225, 0.93, colourful) > 500; }, 5s, &frame))
            << "F did not select every record again: " << frame.path;
    }
    EXPECT_TRUE(driver.running());
}

}  // namespace
