#include "app/platform.h"

#include <chrono>
#include <iostream>

namespace {

const std::chrono::steady_clock::time_point processStart = std::chrono::steady_clock::now();

std::function<double()> clockHook;
std::function<void()> redrawHook;
std::function<int()> modifierHook;
std::ostream* traceTarget = nullptr;

}  // namespace

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

std::ostream& traceStream() { return traceTarget ? *traceTarget : std::cout; }

void setTraceStream(std::ostream* stream) { traceTarget = stream; }
