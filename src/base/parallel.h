#pragma once
// Runs the parts of one computation on worker threads and returns when all
// are done. Part k always does the same work whatever runs it, so results
// never depend on the number of threads; a part that finds no thread to
// spare runs on the calling thread.

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

// Threads to use when `requested` is 0 (one per core) or more, at most `parts`.
inline int threadsFor(int requested, int parts) {
    int n = requested > 0 ? requested : static_cast<int>(std::thread::hardware_concurrency());
    n = std::clamp(n, 1, 16);
    return std::max(1, std::min(n, parts));
}

// Calls work(part) for every part in [0, parts), spread over `threads`
// threads, each thread taking every threads-th part.
template <class Work>
void runParts(int parts, int threads, Work work) {
    if (parts <= 0) return;
    threads = std::max(1, std::min(threads, parts));
    auto lane = [&](int first) {
        for (int part = first; part < parts; part += threads) work(part);
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(threads - 1));
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(lane, t);
        } catch (const std::system_error&) {
            lane(t);
        }
    }
    lane(0);
    for (std::thread& t : pool) t.join();
}

// Calls work(first, last, part) for `parts` equal ranges of [0, count), one
// thread each.
template <class Work>
void runSplit(long long count, int parts, Work work) {
    parts = std::max(1, parts);
    runParts(parts, parts, [&](int part) { work(count * part / parts, count * (part + 1) / parts, part); });
}

// Calls work(first, last) over [0, count) in ranges, on `threads` threads
// when there are enough items to pay for them (from a million on).
template <class Work>
void runRanges(long long count, int threads, Work work) {
    runSplit(count, count >= (1 << 20) ? threads : 1, [&](long long first, long long last, int) { work(first, last); });
}
