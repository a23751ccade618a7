#include <QApplication>
#include <gtest/gtest.h>
#include <unistd.h>

#include "store/PasswordHash.h"

int main(int argc, char** argv) {
    // Real widgets without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Chromium refuses its sandbox as root; the tests show only their own pages.
    if (geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    zel::setPasswordHashIterations(1000);
    return RUN_ALL_TESTS();
}
