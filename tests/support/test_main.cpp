// Test programs start inside a throw-away environment, so that no test can reach the real home
// folder even when it does not use the per-test fixture.

#include "support/test_env.h"

#include <gmock/gmock.h>

#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleMock(&argc, argv);
    auto outer = std::make_unique<testenv::ScopedEnvironment>();
    const int result = RUN_ALL_TESTS();
    outer.reset();
    return result;
}
