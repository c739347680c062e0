#include "support/testsupport.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    bwtest::PrepareTestEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
