// What the axes write without a display: their ticks on every kind of scale
// and the names of crowded axes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "draw/text.h"
#include "render/axis_ticks.h"
#include "render/layers.h"

namespace {

// The placement of a range [low, high] as the program widens it.
Placement placed(AxisScale scale, double low, double high, double c = 1.0, bool flipped = false) {
    Placement p;
    p.scale = scale;
    p.constant = c;
    const double a = p.transform(low), b = p.transform(high), s = (b - a) * 0.02;
    p.minimum = a - s;
    p.maximum = b + s;
    p.flipped = flipped;
    return p;
}

std::vector<std::string> labelsOf(const std::vector<AxisTick>& ticks) {
    std::vector<std::string> labels;
    for (const AxisTick& t : ticks) labels.push_back(t.label);
    return labels;
}

constexpr double day = 86400.0;
const double march14 = 984528000.0;  // 2001-03-14 00:00 UTC

TEST(AxisTicks, NiceValuesOnEveryScale) {
    struct Case {
        const char* what;
        Placement placement;
        ValueFormat format;
        double low, high;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {"crossing zero", placed(AxisScale::Linear, -3.7, 12.2), ValueFormat::Number, -3.7, 12.2,
         {"-2", "0", "2", "4", "6", "8", "10", "12"}},
        {"hundredths", placed(AxisScale::Linear, 0.013, 0.087), ValueFormat::Number, 0.013, 0.087,
         {"0.02", "0.03", "0.04", "0.05", "0.06", "0.07", "0.08"}},
        {"halves", placed(AxisScale::Linear, 0.2, 2.9), ValueFormat::Number, 0.2, 2.9,
         {"0.5", "1.0", "1.5", "2.0", "2.5"}},
        {"billions", placed(AxisScale::Linear, 0.0, 3.2e9), ValueFormat::Number, 0.0, 3.2e9,
         {"0.0", "5.0e8", "1.0e9", "1.5e9", "2.0e9", "2.5e9", "3.0e9"}},
        {"decades", placed(AxisScale::Log, 1.0, 1e5), ValueFormat::Number, 1.0, 1e5,
         {"1", "10", "100", "1000", "10000", "100000"}},
        {"decades with 2 and 5", placed(AxisScale::Log, 3.0, 700.0), ValueFormat::Number, 3.0, 700.0,
         {"5", "10", "20", "50", "100", "200", "500"}},
        {"decades below 1", placed(AxisScale::Log, 1e-4, 10.0), ValueFormat::Number, 1e-4, 10.0,
         {"1e-4", "1e-3", "1e-2", "1e-1", "1e0", "1e1"}},
        {"log within a decade", placed(AxisScale::Log, 20.0, 80.0), ValueFormat::Number, 20.0, 80.0,
         {"20", "30", "40", "50", "60", "70", "80"}},
        {"symlog", placed(AxisScale::Symlog, -1000.0, 1e5, 10.0), ValueFormat::Number, -1000.0, 1e5,
         {"-1000", "-100", "0", "100", "1000", "10000", "100000"}},
        {"one day", placed(AxisScale::Linear, march14 + 60, march14 + day - 60), ValueFormat::DateTime,
         march14 + 60, march14 + day - 60, {"03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00"}},
        {"two weeks", placed(AxisScale::Linear, march14, march14 + 13 * day), ValueFormat::Date, march14,
         march14 + 13 * day, {"03-15", "03-17", "03-19", "03-21", "03-23", "03-25", "03-27"}},
        {"fifty years", placed(AxisScale::Linear, 0.0, 1577836800.0), ValueFormat::Date, 0.0, 1577836800.0,
         {"1970", "1980", "1990", "2000", "2010", "2020"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (double pixels : {400.0, 264.0}) {
            const std::vector<AxisTick> ticks = axisTicks(c.placement, c.format, c.low, c.high, pixels);
            if (pixels == 400.0) {
                EXPECT_EQ(labelsOf(ticks), c.labels);
            }
            EXPECT_GE(ticks.size(), static_cast<std::size_t>(fewestTicks)) << pixels;
            EXPECT_LE(ticks.size(), static_cast<std::size_t>(mostTicks)) << pixels;
            for (std::size_t k = 0; k < ticks.size(); ++k) {
                EXPECT_NEAR(ticks[k].position, c.placement.position(ticks[k].value), 1e-12);
                // Within the range, and no two labels closer than a label is high.
                EXPECT_TRUE(ticks[k].value >= c.low - 1e-9 && ticks[k].value <= c.high + 1e-9) << ticks[k].label;
                if (k > 0) {
                    EXPECT_GE((ticks[k].position - ticks[k - 1].position) * pixels, tickGapPx) << pixels;
                }
                // One number of decimals on the axis.
                const auto decimals = [](const std::string& l) {
                    const std::size_t dot = l.find('.'), e = l.find('e');
                    return dot == std::string::npos ? 0 : (e == std::string::npos ? l.size() : e) - dot - 1;
                };
                EXPECT_EQ(decimals(ticks[k].label), decimals(ticks[0].label)) << ticks[k].label;
            }
        }
    }
}

TEST(AxisTicks, FollowAFlipAndFitAShortAxis) {
    const Placement upright = placed(AxisScale::Linear, -3.7, 12.2);
    Placement flipped = upright;
    flipped.flipped = true;
    const std::vector<AxisTick> a = axisTicks(upright, ValueFormat::Number, -3.7, 12.2, 400.0);
    const std::vector<AxisTick> b = axisTicks(flipped, ValueFormat::Number, -3.7, 12.2, 400.0);
    EXPECT_EQ(labelsOf(a), labelsOf(b));
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) EXPECT_NEAR(b[k].position, 1.0 - a[k].position, 1e-12);
    // Where four do not fit, fewer ticks keep their distance; whole numbers
    // get no ticks between them.
    const std::vector<AxisTick> shortAxis = axisTicks(upright, ValueFormat::Number, -3.7, 12.2, 40.0);
    EXPECT_GE(shortAxis.size(), 1u);
    EXPECT_LE(shortAxis.size(), 3u);
    const Placement years = placed(AxisScale::Linear, 2007.0, 2009.0);
    EXPECT_EQ(labelsOf(axisTicks(years, ValueFormat::Number, 2007.0, 2009.0, 400.0, true)),
              (std::vector<std::string>{"2007", "2008", "2009"}));
    EXPECT_TRUE(axisTicks(placed(AxisScale::Linear, 5.0, 5.0), ValueFormat::Number, 5.0, 5.0, 400.0).empty());
}

TEST(AxisNames, NeverOverlapAndStayInsideTheWindow) {
    FontMetrics font;
    font.advance.fill(6);
    struct Case {
        int axes;
        double width;
    };
    for (const Case c : {Case{66, 1180.0}, Case{66, 600.0}, Case{8, 600.0}, Case{2, 300.0}}) {
        std::vector<double> xs;
        std::vector<std::string> names;
        for (int i = 0; i < c.axes; ++i) {
            xs.push_back((0.1 + 0.83 * i / (c.axes - 1)) * c.width);
            names.push_back("flipper_length_mm_" + std::to_string(i));
        }
        for (int whole : {-1, c.axes - 1}) {
            SCOPED_TRACE(std::to_string(c.axes) + " axes in " + std::to_string(c.width) + ", whole " +
                         std::to_string(whole));
            const std::vector<NamePlace> placed = placeNames(xs, names, c.width, whole, font);
            ASSERT_EQ(placed.size(), names.size());
            double end = 0.0;
            for (int i = 0; i < c.axes; ++i) {
                const NamePlace& p = placed[static_cast<std::size_t>(i)];
                const double left = xs[i] + p.dx, right = left + font.width(p.text);
                EXPECT_TRUE(left >= 0.0 && right <= c.width) << i << ": " << left << ".." << right;
                EXPECT_EQ(p.cut, p.text != names[i]);
                if (i == whole) {
                    EXPECT_EQ(p.text, names[i]);
                    continue;
                }
                EXPECT_GE(left, end) << i;
                end = right;
                if (p.cut && font.width(p.text) >= font.width("x...")) {
                    EXPECT_EQ(p.text.substr(p.text.size() - 3), "...");
                }
            }
        }
    }
}

}  // namespace
