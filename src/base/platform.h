#pragma once
// The few points where the program meets the outside world: the millisecond
// clock, redraw requests, the keyboard modifier state and the trace output.
// Each has a hook so tests can drive or observe it without a window system.

#include <cstddef>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>

// Milliseconds since process start, as a double (1000 ticks per second).
double clockMs();
// Milliseconds of the steady clock, never replaced by a hook: for measuring
// how long work takes, where the program's own clock may be held by a test.
double steadyMs();

// Half of the machine's physical memory (1 GB when it cannot be read): the
// most one table or one layout may take.
std::size_t halfPhysicalMemory();
// Replace the clock; an empty function restores the real one.
void setClockHook(std::function<double()> hook);

// Ask for one more frame of the drawing area.
void requestRedraw();
void setRedrawHook(std::function<void()> hook);

// Modifier combination of the current event: only these three bits ever take part.
enum Modifier : int { ModShift = 1, ModCtrl = 2, ModAlt = 4 };
int currentModifiers();
void setModifierHook(std::function<int()> hook);

// Trace lines go to standard output unless a test redirects them.
std::ostream& traceStream();
void setTraceStream(std::ostream* stream);  // null restores std::cout
// Lines the calling thread traces go to *buffer instead while it is set (null
// ends that): a worker's lines wait there until the thread that joins it
// writes them, so they never interleave with that thread's own.
void setThreadTraceBuffer(std::ostream* buffer);

// Writes the arguments as one line and flushes it at once.
template <class... Args>
void trace(const Args&... args) {
    std::ostream& os = traceStream();
    (os << ... << args);
    os << '\n';
    os.flush();
}

// The latest refusal or failure of something the user asked for (a file or
// session not loaded, not saved or not written, a key or command refused),
// so the window can show it beside the trace. `serial` grows with each one;
// 0 means none yet. Safe to call from any thread.
struct UserRefusal {
    std::string text;
    long serial = 0;
};
void noteRefusal(const std::string& text);
UserRefusal latestRefusal();

// Traces a refusal exactly like trace() and keeps it as the latest refusal.
template <class... Args>
void traceRefusal(const Args&... args) {
    std::ostringstream line;
    (line << ... << args);
    trace(line.str());
    noteRefusal(line.str());
}
