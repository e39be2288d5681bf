#include "base/platform.h"

#include <unistd.h>

#include <chrono>
#include <iostream>
#include <mutex>

namespace {

const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

std::function<double()> clockHook;
std::function<void()> redrawHook;
std::function<int()> modifierHook;
std::ostream* traceTarget = nullptr;
thread_local std::ostream* threadTraceTarget = nullptr;

// Loads run on a worker, so refusals may come from any thread.
std::mutex refusalMutex;
UserRefusal refusal;

}  // namespace

double steadyMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double clockMs() {
    if (clockHook) return clockHook();
    const auto elapsed = std::chrono::steady_clock::now() - processStart;
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

void setClockHook(std::function<double()> hook) { clockHook = std::move(hook); }

void requestRedraw() {
    if (redrawHook) redrawHook();
}

void setRedrawHook(std::function<void()> hook) { redrawHook = std::move(hook); }

int currentModifiers() {
    if (!modifierHook) return 0;
    return modifierHook() & (ModShift | ModCtrl | ModAlt);
}

void setModifierHook(std::function<int()> hook) { modifierHook = std::move(hook); }

std::ostream& traceStream() {
    if (threadTraceTarget) return *threadTraceTarget;
    return traceTarget ? *traceTarget : std::cout;
}

void setTraceStream(std::ostream* stream) { traceTarget = stream; }

void setThreadTraceBuffer(std::ostream* buffer) { threadTraceTarget = buffer; }

std::size_t halfPhysicalMemory() {
    static const std::size_t half = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGE_SIZE);
        if (pages <= 0 || pageSize <= 0) return std::size_t(1) << 30;  // unknown: assume a small machine
        return static_cast<std::size_t>(pages) / 2 * static_cast<std::size_t>(pageSize);
    }();
    return half;
}

void noteRefusal(const std::string& text) {
    std::lock_guard<std::mutex> lock(refusalMutex);
    refusal.text = text;
    ++refusal.serial;
}

UserRefusal latestRefusal() {
    std::lock_guard<std::mutex> lock(refusalMutex);
    return refusal;
}
