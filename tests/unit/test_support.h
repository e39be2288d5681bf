#pragma once
// Shared fixture for tests that drive the handlers directly: a set clock, a
// set modifier combination, counted redraw requests, captured trace lines and
// a small data file loaded fresh for every test.

#include <gtest/gtest.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "animation/animation.h"
#include "base/platform.h"
#include "brush/brush.h"
#include "data/dimension.h"
#include "data/table.h"
#include "data/table_content.h"
#include "data/table_writer.h"
#include "idle/idle.h"
#include "interaction/interaction.h"
#include "plot/axis.h"
#include "plot/plot.h"
#include "session/session.h"
#include "shapes/shape.h"

namespace testsupport {

// Four dimensions, five labelled records; every dimension spans 0..100, so
// after the 2 % widening a value v sits at (v + 2) / 104 of its axis.
inline const char* const smallTable =
    "5 4 4 1\n"
    "name d0 d1 d2 d3\n"
    "r0 0 0 100 10\n"
    "r1 50 50 50 20\n"
    "r2 100 100 0 30\n"
    "r3 25 75 25 40\n"
    "r4 75 25 75 100\n";

inline double normalizedOf(double value) { return (value + 2.0) / 104.0; }

// The view as a refused load must leave it: the records Export writes (with
// names, labels and category labels) and the axes in their order.
inline std::string viewText() {
    if (plot == nullptr) return "no plot";
    std::string text = tableText(selectedRecords()) + "axes";
    for (int i = 0; i < plot->axisCount; ++i) text += " " + std::to_string(plot->axes[i]->dimensionIndex);
    return text;
}

// Writes text as this test process's data file named after tag and makes it
// the file the next load reads. ctest runs tests as parallel processes, so
// the process id keeps their files apart.
inline void useTableFile(const std::string& text, const std::string& tag) {
    const std::string path = ::testing::TempDir() + "korvelline_" + tag + "_" +
                             std::to_string(::getpid()) + ".txt";
    std::ofstream(path, std::ios::binary) << text;
    ASSERT_TRUE(setDataFileName(path.c_str()));
}

// Records of a labelled table of two dimensions, about 18 bytes each:
// record i is "r<i> <i> <-(i % 1000) / 4>", except for the tokens replaced.
// From about 500,000 records on, a load parses them on two threads.
struct Replaced {
    int record = 0;
    int field = 0;  // 0 and 1: the values; the label is not replaced
    const char* token = "";
};
inline double largeValue(int record, int field) { return field == 0 ? record : -(record % 1000) * 0.25; }
inline std::string largeRecords(int count, const std::vector<Replaced>& replaced = {}) {
    std::string text;
    text.reserve(static_cast<size_t>(count) * 20);
    char number[32];
    for (int i = 0; i < count; ++i) {
        text += " r";
        text.append(number, std::to_chars(number, number + sizeof number, i).ptr);
        for (int j = 0; j < 2; ++j) {
            const char* token = nullptr;
            for (const Replaced& r : replaced)
                if (r.record == i && r.field == j) token = r.token;
            text += ' ';
            if (token)
                text += token;
            else
                text.append(number, std::to_chars(number, number + sizeof number, largeValue(i, j)).ptr);
        }
        text += '\n';
    }
    return text;
}

}  // namespace testsupport

class InteractionTest : public ::testing::Test {
protected:
    double now = 10000.0;  // well past the double-click window of time 0
    int modifiers = 0;
    int redraws = 0;
    std::ostringstream traceOut;
    std::filesystem::path tempDir;

    void SetUp() override {
        static int counter = 0;
        tempDir = std::filesystem::temp_directory_path() /
                  ("korvelline-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(tempDir);
        setClockHook([this] { return now; });
        setModifierHook([this] { return modifiers; });
        setRedrawHook([this] { ++redraws; });
        setTraceStream(&traceOut);
        windowWidth = 1180;
        windowHeight = 500;
        aspectRatio = 500.0 / 1180.0;
        resetInteractionState();
        loadTable(testsupport::smallTable);
    }

    void TearDown() override {
        releasePlot();
        clearShapes();
        resetInteractionState();
        setClockHook(nullptr);
        setModifierHook(nullptr);
        setRedrawHook(nullptr);
        setTraceStream(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(tempDir, ignored);
    }

    // Writes text as a data file and loads it; clears trace and redraw counts.
    void loadTable(const std::string& text, const std::string& name = "table.txt") {
        const std::filesystem::path file = tempDir / name;
        std::ofstream(file) << text;
        ASSERT_TRUE(setDataFileName(file.c_str()));
        loadDataFile();
        ASSERT_NE(plot, nullptr);
        clearTrace();
    }

    std::vector<std::string> traceLines() const {
        std::vector<std::string> lines;
        std::istringstream in(traceOut.str());
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool traced(const std::string& line) const {
        for (const auto& l : traceLines())
            if (l == line) return true;
        return false;
    }
    void clearTrace() {
        traceOut.str("");
        traceOut.clear();
        redraws = 0;
    }

    PCShowAxis& axis(int i) { return *plot->axes[i]; }

    // Window pixel of a view position (nearest pixel).
    static int px(double u) { return static_cast<int>(std::lround(u * plot->viewportWidth)); }
    static int py(double v) { return static_cast<int>(std::lround((1.0 - v) * plot->viewportHeight)); }

    // Pixels well inside region r, vertically in its middle.
    int regionX(int r) { return px((axis(r).position + axis(r + 1).position) / 2.0); }
    int regionY() { return py(0.5); }

    void press(int button, int x, int y) { onMouseButton(button, ButtonPress, x, y); }
    void release(int button, int x, int y) { onMouseButton(button, ButtonRelease, x, y); }
    void click(int button, int x, int y) {
        press(button, x, y);
        release(button, x, y);
    }

    // Runs the idle callback once at time t.
    void idleAt(double t) {
        now = t;
        onIdle();
    }

    std::vector<double> positions() {
        std::vector<double> p;
        for (int i = 0; i < plot->axisCount; ++i) p.push_back(axis(i).position);
        return p;
    }
};
