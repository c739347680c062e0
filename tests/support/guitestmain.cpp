// Entry of the GUI test programs: the windows need a QApplication around every test.

#include "support/testsupport.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    bwtest::PrepareTestEnvironment();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
