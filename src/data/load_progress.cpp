#include "data/load_progress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>

#include "base/platform.h"

namespace {

std::function<void(double)> waitHook;
bool loading = false;
double startedMs = 0.0;

std::atomic<std::size_t> fileBytes{0};
std::atomic<std::size_t> bytesRead{0};
std::atomic<std::size_t> bytesParsed{0};

// Reading a file from the cache is several times faster than parsing it.
constexpr double readShare = 0.2;

}  // namespace

void setLoadWaitHook(std::function<void(double)> hook) { waitHook = std::move(hook); }

bool loadInProgress() { return loading; }

double loadStartedMs() { return startedMs; }

double loadFraction() {
    const std::size_t size = fileBytes.load(std::memory_order_relaxed);
    if (size == 0) return 0.0;
    const double read = static_cast<double>(bytesRead.load(std::memory_order_relaxed));
    const double parsed = static_cast<double>(bytesParsed.load(std::memory_order_relaxed));
    const double done = (readShare * read + (1.0 - readShare) * parsed) / static_cast<double>(size);
    return std::clamp(done, 0.0, 1.0);
}

void setLoadSize(std::size_t bytes) { fileBytes.store(bytes, std::memory_order_relaxed); }
void addLoadRead(std::size_t bytes) { bytesRead.fetch_add(bytes, std::memory_order_relaxed); }
void addLoadParsed(std::size_t bytes) { bytesParsed.fetch_add(bytes, std::memory_order_relaxed); }

RunningLoad::RunningLoad() {
    loading = true;
    startedMs = clockMs();
    fileBytes.store(0, std::memory_order_relaxed);
    bytesRead.store(0, std::memory_order_relaxed);
    bytesParsed.store(0, std::memory_order_relaxed);
}

RunningLoad::~RunningLoad() { loading = false; }

void runLoadWorker(const std::function<void()>& work) {
    std::ostringstream lines;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    const auto run = [&] {
        setThreadTraceBuffer(&lines);
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        setThreadTraceBuffer(nullptr);
        // Notified under the lock: the waiting thread owns the condition
        // variable and may return the moment it sees done.
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
    };
    std::thread worker;
    try {
        worker = std::thread(run);
    } catch (const std::system_error&) {
        // No thread to be had (the process is at its limit): the load runs
        // here, without answering events while it reads.
        run();
    }
    // Joined on every way out, also when the hook throws.
    struct Joiner {
        std::thread& thread;
        ~Joiner() {
            if (thread.joinable()) thread.join();
        }
    } joiner{worker};
    if (waitHook) {
        // At least once per load, however soon the worker ends: the table
        // is not installed yet, so whoever waits sees the load in progress.
        std::unique_lock<std::mutex> lock(mutex);
        do {
            // The hook runs the toolkit's event loop: never under the lock.
            lock.unlock();
            waitHook(loadFraction());
            lock.lock();
            finished.wait_for(lock, std::chrono::milliseconds(loadWaitStepMs), [&] { return done; });
        } while (!done);
    }
    if (worker.joinable()) worker.join();
    const std::string text = lines.str();
    if (!text.empty()) {
        std::ostream& out = traceStream();
        out << text;
        out.flush();
    }
    if (failure) std::rethrow_exception(failure);
}
