// Window tests run on the offscreen platform inside a throw-away environment, with one
// QApplication for the whole program.

#include "support/test_env.h"

#include <gmock/gmock.h>
#include <QApplication>

#include <clocale>
#include <memory>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::setlocale(LC_CTYPE, "C.UTF-8");
    ::testing::InitGoogleMock(&argc, argv);
    auto outer = std::make_unique<testenv::ScopedEnvironment>();
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    outer.reset();
    return result;
}
