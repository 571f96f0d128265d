// Test programs start inside a throw-away environment, so that no test can reach the real home
// folder even when it does not use the per-test fixture.

#include "support/test_env.h"

#include <gmock/gmock.h>

#include <clocale>
#include <memory>

int main(int argc, char** argv) {
    // As a desktop session has it: libraries that take wide file names convert them by the locale.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ::testing::InitGoogleMock(&argc, argv);
    auto outer = std::make_unique<testenv::ScopedEnvironment>();
    const int result = RUN_ALL_TESTS();
    outer.reset();
    return result;
}
