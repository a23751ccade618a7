#include <QCoreApplication>
#include <gtest/gtest.h>

#include "store/PasswordHash.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // Hashing cost is recorded in each stored hash; a low cost keeps the suite fast.
    zel::setPasswordHashIterations(1000);
    return RUN_ALL_TESTS();
}
