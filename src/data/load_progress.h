#pragma once
// A data file is read and parsed on a worker thread while the GUI thread
// waits for it. Waiting, the GUI thread calls the wait hook every so often
// with the share of the file done, so the window keeps answering and can show
// how far the load got; the readers report that share as they go.

#include <cstddef>
#include <functional>

// Called on the waiting thread about every loadWaitStepMs while a load runs
// (and once as it starts), with the share done in [0, 1]. Unset: the load
// simply waits for its worker.
void setLoadWaitHook(std::function<void(double fraction)> hook);

// Whether a load is under way: the old table is gone and the new one is not
// installed yet. Nothing may start another load or read the table meanwhile.
bool loadInProgress();
// Share of the running (or last) load done, in [0, 1].
double loadFraction();
// clockMs() when the running (or last) load started.
double loadStartedMs();

constexpr int loadWaitStepMs = 50;

// For the readers, from any thread: the file's size once known, then bytes
// read from it and bytes of it parsed.
void setLoadSize(std::size_t bytes);
void addLoadRead(std::size_t bytes);
void addLoadParsed(std::size_t bytes);

// Marks a load as under way for its lifetime and starts its progress at 0.
class RunningLoad {
public:
    RunningLoad();
    ~RunningLoad();
    RunningLoad(const RunningLoad&) = delete;
    RunningLoad& operator=(const RunningLoad&) = delete;
};

// Runs work on a worker thread and returns once it has finished, calling the
// wait hook meanwhile. The lines work traces are held back and written here,
// in their order, after the join; an exception work throws is thrown here.
void runLoadWorker(const std::function<void()>& work);
