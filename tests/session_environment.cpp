// Every test of a binary runs with the session's and the record layer's hooks
// installed, as the program runs from its start-up on: a plot that frees its
// axes drops the kept brushes through them, and a table that goes takes its
// bins with it.

#include <gtest/gtest.h>

#include "render/record_layer.h"
#include "session/session.h"

namespace {

class SessionEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        installSessionHooks();
        installRecordLayerHooks();
    }
};

[[maybe_unused]] ::testing::Environment* const sessionEnvironment =
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment);

}  // namespace
