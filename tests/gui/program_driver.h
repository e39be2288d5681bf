#pragma once
// Runs the real program as a child process on the X display of the test run
// and drives it with synthetic input (xdotool), reading its standard output
// through a pipe and its frames back through screenshots (ImageMagick).
//
// Every wait has a timeout, and the child is always killed when the driver
// goes away, whatever the test did.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// Screen geometry of the program without a window manager: the main window
// sits at (50, 50); the drawing area is the 1180x500 area below a 20-pixel
// menu bar.
constexpr int drawingLeft = 50;
constexpr int drawingTop = 70;
constexpr int drawingWidth = 1180;
constexpr int drawingHeight = 500;

// Screen pixel of a view position (x right, y up, both 0..1).
inline int screenX(double u) { return drawingLeft + static_cast<int>(u * drawingWidth + 0.5); }
inline int screenY(double v) { return drawingTop + static_cast<int>((1.0 - v) * drawingHeight + 0.5); }

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool dark(int limit = 90) const { return r < limit && g < limit && b < limit; }
    bool reddish() const { return r > 150 && g < 90 && b < 90; }
};

// A screenshot of the whole screen.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    std::string path;  // where it was saved, for failure messages

    bool valid() const { return width > 0 && height > 0; }
    Rgb at(int x, int y) const;
    // Rows in [y0, y1] that hold a dark pixel within dx of column x.
    int darkRowsNear(int x, int dx, int y0, int y1) const;
    // Pixels in the box that satisfy the test.
    int count(int x0, int y0, int x1, int y1, const std::function<bool(Rgb)>& test) const;
};

// Runs argv (no shell) with a time limit; returns the exit status or -1 on
// failure or timeout. Output goes to *output when given.
int runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* output = nullptr);

class ProgramDriver {
public:
    ProgramDriver();
    ~ProgramDriver();
    ProgramDriver(const ProgramDriver&) = delete;
    ProgramDriver& operator=(const ProgramDriver&) = delete;

    // Working directory holding copies of the example tables and bitmaps.
    const std::string& workDir() const { return workDir_; }
    // Leaves the working directory (screenshots, stderr.txt) for inspection.
    void keepWorkDir() { keepWorkDir_ = true; }
    // Empty when the environment can run the tests, else why not.
    static std::string environmentProblem();

    // Starts the binary in workDir with the given arguments; false with
    // *error set on failure.
    bool start(std::string* error, const std::vector<std::string>& args = {});
    // Waits until the main window is mapped; false on timeout.
    bool waitForWindow(std::chrono::milliseconds timeout);
    bool running();
    // Waits for the child to end; its exit status, or -1 on timeout or signal.
    int waitForExit(std::chrono::milliseconds timeout);
    // Ends the child (TERM, then KILL) if it still runs.
    void kill();

    // Everything the child has written to standard output so far.
    const std::string& output();
    std::vector<std::string> outputLines();
    // Waits until an output line starting at offset `from` satisfies the test;
    // returns that line or an empty optional-like "" with found = false.
    bool waitForLine(const std::function<bool(const std::string&)>& test,
                     std::chrono::milliseconds timeout, std::size_t from = 0,
                     std::string* line = nullptr);
    bool waitForLineStartingWith(const std::string& prefix, std::chrono::milliseconds timeout,
                                 std::size_t from = 0, std::string* line = nullptr);
    // Current length of the output: later waits can start from here.
    std::size_t mark();

    // Input, all in screen pixels.
    bool moveTo(int x, int y);
    bool click(int button, int repeat = 1, int delayMs = 60);
    bool press(int button);
    bool release(int button);
    bool key(const std::string& keysym);
    bool keyDown(const std::string& keysym);
    bool keyUp(const std::string& keysym);
    bool type(const std::string& text);
    // Moves in small steps so the program sees motion events on the way.
    bool dragTo(int x, int y, int steps = 8);

    // Menu File/Open: types a file name of the working directory into the
    // chooser. A bare name only: the chooser completes directories as they
    // are typed, which garbles typed paths.
    bool openFile(const std::string& name, std::string* error);
    // Menu File/Open, then Escape in the chooser.
    bool cancelOpen(std::string* error);
    // A menu entry that opens a save chooser (Export), then a bare file name
    // of the working directory typed into it and Return.
    bool saveThroughMenu(int menu, int item, const std::string& name, std::string* error);
    // Waits for a window that is not in `before` (a question dialog) and
    // presses keysym over it.
    bool answerDialog(const std::vector<std::string>& before, const std::string& keysym,
                      std::string* error);
    // The ids of the windows shown now, for answerDialog.
    std::vector<std::string> shownWindows() { return visibleWindows(); }
    // Menu File/Open; waits for the chooser and gives its window id and
    // screen box, or "" with *error set on timeout.
    std::string findChooser(int& x, int& y, int& w, int& h, std::string* error, int menu = 0,
                            int item = 0);
    // Runs xdotool commands, one per line, as one script (far faster than
    // one xdotool process per event); false on failure or timeout.
    bool runScript(const std::string& commands, std::chrono::milliseconds timeout);
    // Whether the window with this id is mapped.
    bool windowVisible(const std::string& id);
    // What the child wrote to standard error so far (sanitizer reports).
    std::string errorOutput() const;
    // Menu File/Quit.
    bool quitThroughMenu();
    // Entry `item` (0 = first) of the menu-bar menu `menu` (0 = File, 1 = Help, 2 = Export, 3 = View).
    bool chooseMenu(int menu, int item);
    // Whether a window with exactly this title is mapped.
    bool windowShown(const std::string& title);
    // Moves the window with exactly this title, e.g. off the menu bar it covers.
    bool moveWindow(const std::string& title, int x, int y);

    // Screenshot of the whole screen, saved as workDir/name.ppm; an invalid
    // frame on failure.
    Frame screenshot(const std::string& name);
    // Retries screenshots (saved as name.ppm) until the test holds for one;
    // false on timeout.
    bool waitForFrame(const std::string& name, const std::function<bool(const Frame&)>& test,
                      std::chrono::milliseconds timeout, Frame* last = nullptr);

    // Lets the program process what was sent.
    static void pause(std::chrono::milliseconds ms);

private:
    // Opens the chooser through menu entry (menu, item); types name and
    // Return, or Escape when name is empty. afterLastOpened: the name field
    // still holds the file opened last (File/Open's chooser lives on).
    bool useChooser(const std::string& name, std::string* error, int menu = 0, int item = 0,
                    bool afterLastOpened = true);
    void drainOutput(int waitMs);
    bool xdotool(const std::vector<std::string>& args);
    std::vector<std::string> visibleWindows();
    // The window under the pointer, as xdotool names it; empty when unknown.
    std::string pointerWindow();
    static bool windowGeometry(const std::string& id, int& x, int& y, int& w, int& h);

    std::string workDir_;
    pid_t child_ = -1;
    int outFd_ = -1;
    int exitStatus_ = -1;
    bool exited_ = false;
    std::string output_;
    bool keepWorkDir_ = false;
    std::string lastOpened_;
};

// The last `lines` lines of text, for failure messages.
inline std::string tail(const std::string& text, std::size_t lines = 40) {
    std::size_t start = text.size();
    for (std::size_t n = 0; n <= lines; ++n) {
        if (start == 0) return text;
        const std::size_t nl = text.rfind('\n', start - 1);
        if (nl == std::string::npos) return text;
        start = nl;
    }
    return text.substr(start + 1);
}

// A test with the real program started and its window shown; on failure the
// working directory (screenshots, stdout.txt, stderr.txt) is kept.
class RunningProgramTest : public ::testing::Test {
protected:
    ProgramDriver driver;

    void SetUp() override {
        const std::string problem = ProgramDriver::environmentProblem();
        ASSERT_TRUE(problem.empty()) << problem;
        std::string error;
        ASSERT_TRUE(driver.start(&error)) << error;
        ASSERT_TRUE(driver.waitForWindow(std::chrono::seconds(20)))
            << "the main window did not appear within 20 s; output:\n"
            << tail(driver.output());
    }

    void TearDown() override {
        if (HasFailure()) {
            driver.keepWorkDir();
            std::ofstream(driver.workDir() + "/stdout.txt") << driver.output();
            std::cerr << "screenshots and output kept in " << driver.workDir() << "\nlast program output:\n"
                      << tail(driver.output()) << std::endl;
        }
        driver.kill();
    }
};

}  // namespace gui
