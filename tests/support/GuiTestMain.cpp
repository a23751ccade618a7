#include <QApplication>
#include <gtest/gtest.h>

#include "store/PasswordHash.h"

int main(int argc, char** argv) {
    // Real widgets without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    zel::setPasswordHashIterations(1000);
    return RUN_ALL_TESTS();
}
