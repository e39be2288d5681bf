// Every test of a binary runs with the session's hooks installed, as the
// program runs from its start-up on: a plot that frees its axes drops the
// kept brushes through them.

#include <gtest/gtest.h>

#include "session/session.h"

namespace {

class SessionEnvironment : public ::testing::Environment {
public:
    void SetUp() override { installSessionHooks(); }
};

[[maybe_unused]] ::testing::Environment* const sessionEnvironment =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace
