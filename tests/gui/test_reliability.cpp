// The real program under hostile use: refused paths through File/Open, the
// chooser's preview, and a seeded storm of random input that must leave the
// program answering without a sanitizer report.
//
// KORVELLINE_STORM_EVENTS and KORVELLINE_STORM_SEED change the storm's size
// and seed (CI runs a longer one under the sanitizer build).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "program_driver.h"

using namespace std::chrono_literals;
using gui::Frame;
using gui::ProgramDriver;

namespace {

class ReliabilityTest : public gui::RunningProgramTest {
protected:
    // No sanitizer or runtime report on standard error.
    void expectNoReport() {
        const std::string errors = driver.errorOutput();
        for (const char* sign : {"ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer"})
            EXPECT_EQ(errors.find(sign), std::string::npos) << errors.substr(0, 4000);
    }

    // The program takes a key and writes its trace line: it still answers.
    bool answers(std::chrono::milliseconds timeout) {
        const std::size_t from = driver.mark();
        const std::string probe = "mousemove " + std::to_string(gui::screenX(0.5)) + ' ' +
                                  std::to_string(gui::screenY(0.5)) + "\nkey p\n";
        return driver.runScript(probe, 10s) &&
               driver.waitForLineStartingWith("keyboard p 112 ", timeout, from);
    }

    // Closes the chooser with Escape over its file name field, then Cancel.
    bool closeChooser(const std::string& id, int x, int y) {
        const std::string field = std::to_string(x + 300) + ' ' + std::to_string(y + 322);
        const std::string cancel = std::to_string(x + 443) + ' ' + std::to_string(y + 357);
        const std::string attempts[] = {"mousemove " + field + "\nkey Escape\n",
                                        "mousemove " + field + "\nkey Escape\n",
                                        "mousemove " + cancel + "\nclick 1\n"};
        for (const std::string& attempt : attempts) {
            if (!driver.windowVisible(id)) return true;
            driver.runScript(attempt, 10s);
            // A sanitizer build drawing a large table may take seconds per event.
            for (int k = 0; k < 100 && driver.windowVisible(id); ++k) ProgramDriver::pause(100ms);
        }
        return !driver.windowVisible(id);
    }
};

TEST_F(ReliabilityTest, RefusedPathsLeaveTheChooserUsable) {
    const std::string dir = driver.workDir();
    ASSERT_EQ(::mkfifo((dir + "/pipe.txt").c_str(), 0600), 0);
    std::ofstream(dir + "/huge.txt") << "1 1 1 0 id x 5\n";
    std::filesystem::resize_file(dir + "/huge.txt", std::uintmax_t(1) << 40);  // sparse

    const struct {
        const char* name;
        const char* line;
    } refusals[] = {
        {"pipe.txt", " not a regular file, file not loaded"},
        {"huge.txt", " file too large, file not loaded"},
    };
    std::string error;
    for (const auto& r : refusals) {
        const std::size_t from = driver.mark();
        ASSERT_TRUE(driver.openFile(r.name, &error)) << r.name << ": " << error;
        EXPECT_TRUE(driver.waitForLine([&](const std::string& l) { return l == r.line; }, 10s, from))
            << "missing \"" << r.line << "\"";
    }
    // The chooser still opens and loads a table: small.txt has axes at 0.1 and 0.93.
    ASSERT_TRUE(driver.openFile("small.txt", &error)) << error;
    Frame frame;
    EXPECT_TRUE(driver.waitForFrame(
        "after-refusals",
        [](const Frame& f) { return f.darkRowsNear(gui::screenX(0.1), 2, gui::screenY(0.9), gui::screenY(0.1)) > 200; },
        10s, &frame))
        << "small.txt was not drawn after the refusals: " << frame.path;
    expectNoReport();
}

// File/Open and Export/Selected records... both.
TEST_F(ReliabilityTest, ChooserNeverShowsAPreview) {
    for (const int menu : {0, 2}) {
        SCOPED_TRACE("menu " + std::to_string(menu));
        int x = 0, y = 0, w = 0, h = 0;
        std::string error;
        const std::string id = driver.findChooser(x, y, w, h, &error, menu, 0);
        ASSERT_FALSE(id.empty()) << error;
        // A text file is selected (it would be previewed), then the pointer
        // clicks where the preview switch sits in the toolkit's layout.
        const auto at = [&](int dx, int dy) { return std::to_string(x + dx) + ' ' + std::to_string(y + dy); };
        const std::string steps[] = {"mousemove " + at(40, 74) + "\nclick 1\nsleep 0.5\n",
                                     "mousemove " + at(36, 284) + "\nclick 1\nsleep 0.5\n"};
        int step = 0;
        for (const std::string& s : steps) {
            ASSERT_TRUE(driver.runScript(s, 10s));
            const Frame f = driver.screenshot("chooser-" + std::to_string(menu) + "-" + std::to_string(step++));
            ASSERT_TRUE(f.valid());
            // A preview box takes the right part of the file list and shows the
            // file's text there; without it that part stays empty below the
            // selected entry (whose focus box is dark).
            const int dark = f.count(x + 330, y + 90, x + 475, y + 265, [](gui::Rgb c) { return c.dark(); });
            EXPECT_EQ(dark, 0) << "preview text drawn: " << f.path;
        }
        EXPECT_TRUE(closeChooser(id, x, y));
        EXPECT_TRUE(answers(10s));
    }
    expectNoReport();
}

// Seeded random input: every button and modifier combination, double clicks,
// wheel, drags, every key of the key map, File/Open with clicks inside the
// chooser, and File/Close. After each batch the program must still answer.
class Storm {
public:
    explicit Storm(std::uint64_t seed) : state_(seed) {}

    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }

    std::string position() {
        return std::to_string(gui::drawingLeft + 2 + static_cast<int>(below(gui::drawingWidth - 4))) + ' ' +
               std::to_string(gui::drawingTop + 2 + static_cast<int>(below(gui::drawingHeight - 4)));
    }

    // Key names of the modifier combination bits (SHIFT, CTRL, ALT).
    static std::string modifierKeys(unsigned bits) {
        std::string keys;
        if (bits & 1) keys += "shift ";
        if (bits & 2) keys += "ctrl ";
        if (bits & 4) keys += "alt ";
        return keys;
    }

    std::string withModifiers(unsigned bits, const std::string& commands) {
        const std::string keys = modifierKeys(bits);
        if (keys.empty()) return commands;
        return "keydown " + keys + "\n" + commands + "keyup " + keys + "\n";
    }

    // One event in the drawing area as xdotool commands.
    std::string event() {
        static const char* const keys[] = {"q", "w", "b", "r", "f", "s", "z", "a", "v", "m", "n",
                                           "x", "c", "d", "h", "o", "grave", "p", "Q", "R", "X", "V",
                                           "Page_Up", "Page_Down", "Home", "End"};
        const unsigned kind = below(100);
        const unsigned mods = below(8);
        const std::string move = "mousemove " + position() + "\n";
        if (kind < 20) return move + "sleep 0.005\n";
        if (kind < 40)
            return move + withModifiers(mods, "click " + std::to_string(1 + below(3)) + "\n");
        if (kind < 48)
            return move + withModifiers(mods, "click --repeat 2 --delay 60 " + std::to_string(1 + below(2)) + "\n");
        if (kind < 56) return move + withModifiers(mods, "click --repeat " + std::to_string(1 + below(4)) +
                                                             " " + std::to_string(4 + below(2)) + "\n");
        if (kind < 72) {
            const std::string button = std::to_string(1 + below(3));
            std::string drag = move + "mousedown " + button + "\n";
            for (unsigned k = 3 + below(8); k > 0; --k) drag += "mousemove " + position() + "\nsleep 0.01\n";
            return withModifiers(mods, drag + "mouseup " + button + "\n");
        }
        if (kind < 97) return move + "key " + std::string(keys[below(sizeof keys / sizeof keys[0])]) + "\n";
        if (kind < 99) return "";  // File/Open: run by the test between batches
        return "mousemove " + std::to_string(gui::drawingLeft + 20) + ' ' + std::to_string(gui::drawingTop - 10) +
               "\nclick 1\nsleep 0.3\nmousemove " + std::to_string(gui::drawingLeft + 28) + ' ' +
               std::to_string(gui::drawingTop + 13 + 21) + "\nclick 1\nsleep 0.2\n";  // File/Close
    }

private:
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint64_t state_;
};

long environmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    return std::strtol(text, nullptr, 10);
}

TEST_F(ReliabilityTest, RandomStormLeavesTheProgramAnswering) {
    const long events = environmentNumber("KORVELLINE_STORM_EVENTS", 300);
    const std::uint64_t seed = static_cast<std::uint64_t>(environmentNumber("KORVELLINE_STORM_SEED", 20261207));
    Storm storm(seed);
    // Clicks in the chooser may open any table listed there: the large
    // example would make every frame of a sanitizer build take seconds.
    std::filesystem::remove(driver.workDir() + "/synthetic_10k.txt");
    std::string error;
    ASSERT_TRUE(driver.openFile("iris.txt", &error)) << error;

    long sent = 0, opens = 0;
    std::string batch;
    int inBatch = 0;
    const auto flush = [&]() {
        if (!batch.empty()) {
            ASSERT_TRUE(driver.runScript(batch, 300s)) << "xdotool failed on a batch";
            batch.clear();
        }
        inBatch = 0;
        ASSERT_TRUE(driver.running()) << "the program ended after " << sent << " events";
        ASSERT_TRUE(answers(60s)) << "the program stopped answering after " << sent << " events";
    };
    while (sent < events) {
        std::string e = storm.event();
        ++sent;
        if (!e.empty()) {
            batch += e;
            if (++inBatch == 100) {
                ASSERT_NO_FATAL_FAILURE(flush());
            }
            continue;
        }
        // File/Open: clicks and double clicks inside the list (below its "../"
        // entry, so the chooser stays in the working directory) and the row of
        // switches below it, then the chooser is closed.
        ASSERT_NO_FATAL_FAILURE(flush());
        ++opens;
        int x = 0, y = 0, w = 0, h = 0;
        const std::string id = driver.findChooser(x, y, w, h, &error);
        ASSERT_FALSE(id.empty()) << error;
        std::string inside;
        for (unsigned k = 2 + storm.below(6); k > 0; --k) {
            inside += "mousemove " + std::to_string(x + 10 + static_cast<int>(storm.below(470))) + ' ' +
                      std::to_string(y + 64 + static_cast<int>(storm.below(236))) + "\n";
            inside += storm.below(3) == 0 ? "click --repeat 2 --delay 60 1\n" : "click 1\n";
            inside += "sleep 0.05\n";
        }
        ASSERT_TRUE(driver.runScript(inside, 60s));
        ASSERT_TRUE(closeChooser(id, x, y)) << "the chooser could not be closed";
    }
    ASSERT_NO_FATAL_FAILURE(flush());
    std::cout << "storm: " << sent << " events (" << opens << " File/Open), seed " << seed
              << ", program answering" << std::endl;
    expectNoReport();
}

}  // namespace
