#include "program_driver.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace gui {

namespace {

using Clock = std::chrono::steady_clock;

const std::chrono::milliseconds commandTimeout{10000};

// Mirrors argv into the char* array exec wants; the strings outlive the call.
std::vector<char*> execArgs(const std::vector<std::string>& argv) {
    std::vector<char*> out;
    for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

// Kills a child's whole process group and reaps it.
void killGroup(pid_t pid) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

bool readToken(std::istream& in, std::string& token) {
    token.clear();
    char c;
    while (in.get(c)) {
        if (c == '#') {
            std::string skip;
            std::getline(in, skip);
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            token.push_back(c);
            break;
        }
    }
    while (in.get(c) && !std::isspace(static_cast<unsigned char>(c))) token.push_back(c);
    return !token.empty();
}

Frame readPpm(const std::string& path) {
    Frame frame;
    std::ifstream in(path, std::ios::binary);
    std::string magic, w, h, max;
    if (!readToken(in, magic) || magic != "P6" || !readToken(in, w) || !readToken(in, h) ||
        !readToken(in, max) || max != "255")
        return frame;
    const int width = std::stoi(w), height = std::stoi(h);
    std::vector<std::uint8_t> data(static_cast<std::size_t>(width) * height * 3);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (in.gcount() != static_cast<std::streamsize>(data.size())) return frame;
    frame.width = width;
    frame.height = height;
    frame.rgb = std::move(data);
    frame.path = path;
    return frame;
}

}  // namespace

// ---------------------------------------------------------------- display

// An X server like Xvfb resets itself whenever its last client disconnects,
// and a program connecting during that reset is refused ("Can't open
// display"). Holding one connection for the whole run prevents the resets
// between one test's program and the next.
class DisplayKeepAlive : public ::testing::Environment {
public:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || *name == '\0') return;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while ((display_ = XOpenDisplay(nullptr)) == nullptr && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    void TearDown() override {
        if (display_ != nullptr) XCloseDisplay(display_);
        display_ = nullptr;
    }

private:
    Display* display_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const displayKeepAlive =
    ::testing::AddGlobalTestEnvironment(new DisplayKeepAlive);

// ---------------------------------------------------------------- Frame

Rgb Frame::at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return {255, 255, 255};
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

int Frame::darkRowsNear(int x, int dx, int y0, int y1) const {
    int rows = 0;
    for (int y = y0; y <= y1; ++y) {
        for (int xx = x - dx; xx <= x + dx; ++xx) {
            if (at(xx, y).dark()) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

int Frame::count(int x0, int y0, int x1, int y1, const std::function<bool(Rgb)>& test) const {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            if (test(at(x, y))) ++n;
    return n;
}

// ---------------------------------------------------------------- commands

int runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               std::string* output) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    const std::vector<char*> args = execArgs(argv);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    const auto deadline = Clock::now() + timeout;
    std::string text;
    bool open = true;
    int status = 0;
    for (;;) {
        if (open) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
                if (n > 0)
                    text.append(buffer, static_cast<std::size_t>(n));
                else if (n == 0 || errno != EINTR)
                    open = false;
            }
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid && !open) break;
        if (done == pid) {
            // Collect what is left in the pipe, then stop.
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, n);
            break;
        }
        if (Clock::now() > deadline) {
            killGroup(pid);
            ::close(fds[0]);
            if (output) *output = text;
            return -1;
        }
    }
    ::close(fds[0]);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------- driver

ProgramDriver::ProgramDriver() {
    char pattern[] = "/tmp/korvelline-gui-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    workDir_ = pattern;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(KORVELLINE_TEST_DATA_DIR, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".txt" || ext == ".csv" || ext == ".bmp")
            fs::copy_file(entry.path(), fs::path(workDir_) / entry.path().filename(), ec);
    }
}

ProgramDriver::~ProgramDriver() {
    kill();
    if (outFd_ >= 0) ::close(outFd_);
    if (!workDir_.empty() && !keepWorkDir_) {
        std::error_code ec;
        fs::remove_all(workDir_, ec);
    }
}

std::string ProgramDriver::environmentProblem() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return "DISPLAY is not set: run the GUI tests through tests/gui/with_xvfb.sh";
    if (runCommand({"xdotool", "version"}, commandTimeout) != 0)
        return "xdotool does not run: install it (scripts/install-deps.sh)";
    if (runCommand({"import", "-version"}, commandTimeout) != 0)
        return "ImageMagick's import does not run: install imagemagick (scripts/install-deps.sh)";
    if (::access(KORVELLINE_BINARY, X_OK) != 0)
        return std::string("the program is not built: ") + KORVELLINE_BINARY;
    return "";
}

bool ProgramDriver::start(std::string* error, const std::vector<std::string>& extraArgs) {
    if (workDir_.empty()) {
        *error = "could not create a temporary working directory";
        return false;
    }
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const std::string errPath = workDir_ + "/stderr.txt";
    std::vector<std::string> argv{KORVELLINE_BINARY};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    const std::vector<char*> args = execArgs(argv);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        if (::chdir(workDir_.c_str()) != 0) ::_exit(126);
        ::dup2(fds[1], STDOUT_FILENO);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    outFd_ = fds[0];
    ::fcntl(outFd_, F_SETFL, ::fcntl(outFd_, F_GETFL) | O_NONBLOCK);
    child_ = pid;
    exited_ = false;
    return true;
}

void ProgramDriver::drainOutput(int waitMs) {
    if (outFd_ < 0) return;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(outFd_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {  // the child closed its end
            ::close(outFd_);
            outFd_ = -1;
        }
        return;
    }
}

bool ProgramDriver::running() {
    if (child_ < 0 || exited_) return false;
    int status = 0;
    const pid_t done = ::waitpid(child_, &status, WNOHANG);
    if (done == child_) {
        exited_ = true;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int ProgramDriver::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() > deadline) return -1;
        drainOutput(20);
    }
    drainOutput(0);
    return exited_ ? exitStatus_ : -1;
}

void ProgramDriver::kill() {
    if (!running()) return;
    ::kill(-child_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (running() && Clock::now() < deadline) drainOutput(20);
    if (running()) {
        killGroup(child_);
        exited_ = true;
        exitStatus_ = -1;
    }
}

const std::string& ProgramDriver::output() {
    drainOutput(0);
    return output_;
}

std::vector<std::string> ProgramDriver::outputLines() {
    std::vector<std::string> lines;
    std::istringstream in(output());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t ProgramDriver::mark() { return output().size(); }

bool ProgramDriver::waitForLine(const std::function<bool(const std::string&)>& test,
                                std::chrono::milliseconds timeout, std::size_t from,
                                std::string* found) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        drainOutput(20);
        std::size_t start = from;
        while (start < output_.size()) {
            const std::size_t end = output_.find('\n', start);
            if (end == std::string::npos) break;  // only whole lines count
            const std::string line = output_.substr(start, end - start);
            if (test(line)) {
                if (found) *found = line;
                return true;
            }
            start = end + 1;
        }
        if (Clock::now() > deadline || (!running() && outFd_ < 0)) return false;
    }
}

bool ProgramDriver::waitForLineStartingWith(const std::string& prefix,
                                            std::chrono::milliseconds timeout, std::size_t from,
                                            std::string* line) {
    return waitForLine([&](const std::string& l) { return l.rfind(prefix, 0) == 0; }, timeout,
                       from, line);
}

void ProgramDriver::pause(std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); }

// ---------------------------------------------------------------- input

bool ProgramDriver::xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    const bool ok = runCommand(argv, commandTimeout) == 0;
    drainOutput(0);
    return ok;
}

bool ProgramDriver::waitForWindow(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (!running()) return false;
        std::string ids;
        if (runCommand({"xdotool", "search", "--onlyvisible", "--name", "^Korvelline"},
                       commandTimeout, &ids) == 0 &&
            !ids.empty())
            return true;
        drainOutput(100);
    }
    return false;
}

bool ProgramDriver::windowGeometry(const std::string& id, int& x, int& y, int& w, int& h) {
    std::string text;
    if (runCommand({"xdotool", "getwindowgeometry", "--shell", id}, commandTimeout, &text) != 0)
        return false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq + 1 >= line.size()) continue;
        const std::string key = line.substr(0, eq);
        const int value = std::atoi(line.c_str() + eq + 1);
        if (key == "X") x = value;
        if (key == "Y") y = value;
        if (key == "WIDTH") w = value;
        if (key == "HEIGHT") h = value;
    }
    return true;
}

std::string ProgramDriver::pointerWindow() {
    std::string where;
    if (runCommand({"xdotool", "getmouselocation", "--shell"}, commandTimeout, &where) != 0) return {};
    std::istringstream in(where);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("WINDOW=", 0) == 0) return line.substr(7);
    return {};
}

std::vector<std::string> ProgramDriver::visibleWindows() {
    std::string ids;
    runCommand({"xdotool", "search", "--onlyvisible", "--name", ""}, commandTimeout, &ids);
    std::vector<std::string> out;
    std::istringstream in(ids);
    for (std::string id; in >> id;) out.push_back(id);
    return out;
}

bool ProgramDriver::moveTo(int x, int y) {
    return xdotool({"mousemove", std::to_string(x), std::to_string(y)});
}

bool ProgramDriver::click(int button, int repeat, int delayMs) {
    return xdotool({"click", "--repeat", std::to_string(repeat), "--delay", std::to_string(delayMs),
                    std::to_string(button)});
}

bool ProgramDriver::press(int button) { return xdotool({"mousedown", std::to_string(button)}); }
bool ProgramDriver::release(int button) { return xdotool({"mouseup", std::to_string(button)}); }
bool ProgramDriver::key(const std::string& keysym) { return xdotool({"key", keysym}); }
bool ProgramDriver::keyDown(const std::string& keysym) { return xdotool({"keydown", keysym}); }
bool ProgramDriver::keyUp(const std::string& keysym) { return xdotool({"keyup", keysym}); }
bool ProgramDriver::type(const std::string& text) {
    return xdotool({"type", "--delay", "20", text});
}

bool ProgramDriver::dragTo(int x, int y, int steps) {
    std::string where;
    if (runCommand({"xdotool", "getmouselocation", "--shell"}, commandTimeout, &where) != 0)
        return false;
    int x0 = x, y0 = y;
    std::istringstream in(where);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("X=", 0) == 0) x0 = std::stoi(line.substr(2));
        if (line.rfind("Y=", 0) == 0) y0 = std::stoi(line.substr(2));
    }
    for (int k = 1; k <= steps; ++k) {
        if (!moveTo(x0 + (x - x0) * k / steps, y0 + (y - y0) * k / steps)) return false;
        pause(std::chrono::milliseconds(15));
    }
    // Rest at the end as a hand would before letting go.
    pause(std::chrono::milliseconds(150));
    return true;
}

bool ProgramDriver::openFile(const std::string& name, std::string* error) {
    if (name.empty() || name.find('/') != std::string::npos) {
        *error = "openFile takes a bare file name of the working directory";
        return false;
    }
    return useChooser(name, error);
}

bool ProgramDriver::cancelOpen(std::string* error) { return useChooser("", error); }

bool ProgramDriver::saveThroughMenu(int menu, int item, const std::string& name, std::string* error) {
    if (name.empty() || name.find('/') != std::string::npos) {
        *error = "saveThroughMenu takes a bare file name of the working directory";
        return false;
    }
    return useChooser(name, error, menu, item, false);
}

bool ProgramDriver::answerDialog(const std::vector<std::string>& before, const std::string& keysym,
                                 std::string* error) {
    std::string dialog;
    int x = 0, y = 0, w = 0, h = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (dialog.empty() && Clock::now() < deadline) {
        for (const std::string& id : visibleWindows()) {
            bool known = false;
            for (const std::string& b : before) known = known || b == id;
            // Taller than a two-entry menu that may still be up for a moment.
            if (!known && windowGeometry(id, x, y, w, h) && w >= 200 && h >= 80 &&
                !(w == drawingWidth && h == drawingHeight))
                dialog = id;
        }
        if (dialog.empty()) pause(std::chrono::milliseconds(100));
    }
    if (dialog.empty()) {
        *error = "no dialog appeared within 10 s";
        return false;
    }
    // A dialog may be mapped first and placed afterwards: aim only once it
    // stands still and the pointer is over it, or the key lands in whatever
    // window lies beneath (a test's own window closes on Escape).
    for (int tries = 0; tries < 50; ++tries) {
        pause(std::chrono::milliseconds(100));
        int x2 = 0, y2 = 0, w2 = 0, h2 = 0;
        if (!windowGeometry(dialog, x2, y2, w2, h2)) continue;
        const bool still = x2 == x && y2 == y && w2 == w && h2 == h;
        x = x2, y = y2, w = w2, h = h2;
        if (!still) continue;
        moveTo(x + w / 2, y + h / 4);
        pause(std::chrono::milliseconds(200));
        if (pointerWindow() == dialog) break;
    }
    if (!key(keysym)) {
        *error = "could not press " + keysym + " in the dialog";
        return false;
    }
    const auto gone = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool present = false;
        for (const std::string& id : visibleWindows()) present = present || id == dialog;
        if (!present) return true;
        if (Clock::now() > gone) {
            *error = "the dialog stayed open after " + keysym;
            return false;
        }
        pause(std::chrono::milliseconds(100));
    }
}

bool ProgramDriver::runScript(const std::string& commands, std::chrono::milliseconds timeout) {
    const std::string path = workDir_ + "/input.xdo";
    {
        std::ofstream out(path);
        out << commands;
        if (!out) return false;
    }
    return runCommand({"xdotool", path}, timeout) == 0;
}

bool ProgramDriver::windowVisible(const std::string& id) {
    for (const std::string& shown : visibleWindows())
        if (shown == id) return true;
    return false;
}

std::string ProgramDriver::errorOutput() const {
    std::ifstream in(workDir_ + "/stderr.txt");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string ProgramDriver::findChooser(int& x, int& y, int& w, int& h, std::string* error, int menu,
                                       int item) {
    const std::vector<std::string> before = visibleWindows();
    if (!chooseMenu(menu, item)) {
        *error = "could not click the menu entry of the file chooser";
        return "";
    }
    // The chooser is the new top-level window of dialog size (menus are
    // small windows of their own, and may still be up for a moment).
    std::string chooser;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (chooser.empty() && Clock::now() < deadline) {
        for (const std::string& id : visibleWindows()) {
            bool known = false;
            for (const std::string& b : before) known = known || b == id;
            if (known) continue;
            // The drawing area may itself be mapped only after the main window.
            if (windowGeometry(id, x, y, w, h) && w >= 200 && h >= 200 &&
                !(w == drawingWidth && h == drawingHeight))
                chooser = id;
        }
        if (chooser.empty()) pause(std::chrono::milliseconds(100));
    }
    if (chooser.empty()) {
        *error = "the file chooser did not appear within 10 s";
        return chooser;
    }
    // It may be mapped first and placed or sized afterwards: callers aim at
    // offsets inside it, so report it only once it stands still.
    for (int tries = 0; tries < 30; ++tries) {
        pause(std::chrono::milliseconds(100));
        int x2 = 0, y2 = 0, w2 = 0, h2 = 0;
        if (!windowGeometry(chooser, x2, y2, w2, h2)) continue;
        const bool still = x2 == x && y2 == y && w2 == w && h2 == h;
        x = x2, y = y2, w = w2, h = h2;
        if (still) break;
    }
    return chooser;
}

bool ProgramDriver::useChooser(const std::string& name, std::string* error, int menu, int item,
                               bool afterLastOpened) {
    int x = 0, y = 0, w = 0, h = 0;
    const std::string chooser = findChooser(x, y, w, h, error, menu, item);
    if (chooser.empty()) return false;
    // Without a window manager the keyboard follows the pointer: keep it over
    // the chooser. Its file name field has the focus and holds the directory
    // (with the file opened last, after an earlier open). The name is typed
    // after that directory: a name typed into an empty or selected field is
    // completed with the cursor sent back to its start.
    moveTo(x + w / 2, y + h / 4);
    pause(std::chrono::milliseconds(200));
    if (name.empty()) {
        if (!key("Escape")) {
            *error = "could not cancel the file chooser";
            return false;
        }
    } else {
        bool typed = key("End");
        for (std::size_t k = 0; typed && afterLastOpened && k < lastOpened_.size(); ++k)
            typed = key("BackSpace");
        if (!typed || !type(name) || !key("Return")) {
            *error = "could not type into the file chooser";
            return false;
        }
    }
    // Wait for the chooser to go away.
    const auto gone = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        bool present = false;
        for (const std::string& id : visibleWindows()) present = present || id == chooser;
        if (!present) {
            if (!name.empty() && afterLastOpened) lastOpened_ = name;
            return true;
        }
        if (Clock::now() > gone) {
            const Frame frame = screenshot("open-failed");
            *error = "the file chooser stayed open after Return: " + frame.path;
            return false;
        }
        pause(std::chrono::milliseconds(100));
    }
}

bool ProgramDriver::quitThroughMenu() { return chooseMenu(0, 2); }

bool ProgramDriver::chooseMenu(int menu, int item) {
    // Menu titles sit in the 20-pixel bar; entries drop down 21 pixels apart.
    const int titleX = drawingLeft + (menu == 0 ? 20 : menu == 1 ? 66 : menu == 2 ? 121 : 175);
    if (!moveTo(titleX, drawingTop - 10) || !click(1)) return false;
    pause(std::chrono::milliseconds(300));
    return moveTo(titleX + 8, drawingTop + 13 + 21 * item) && click(1);
}

bool ProgramDriver::windowShown(const std::string& title) {
    std::string ids;
    const int status = runCommand({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"},
                                  commandTimeout, &ids);
    return status == 0 && ids.find_first_not_of(" \n") != std::string::npos;
}

bool ProgramDriver::moveWindow(const std::string& title, int x, int y) {
    return runCommand({"xdotool", "search", "--onlyvisible", "--name", "^" + title + "$", "windowmove",
                       std::to_string(x), std::to_string(y)},
                      commandTimeout) == 0;
}

// ---------------------------------------------------------------- frames

Frame ProgramDriver::screenshot(const std::string& name) {
    const std::string path = workDir_ + "/" + name + ".ppm";
    if (runCommand({"import", "-window", "root", "-depth", "8", path}, commandTimeout) != 0)
        return {};
    return readPpm(path);
}

bool ProgramDriver::waitForFrame(const std::string& name,
                                 const std::function<bool(const Frame&)>& test,
                                 std::chrono::milliseconds timeout, Frame* last) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        Frame frame = screenshot(name);
        const bool ok = frame.valid() && test(frame);
        if (last) *last = frame;
        if (ok) return true;
        if (Clock::now() > deadline) return false;
        drainOutput(150);
    }
}

}  // namespace gui
