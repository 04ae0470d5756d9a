// The host tests' main: a broken contract of the fake platform fails the
// test that broke it.
#include <gtest/gtest.h>

#include "tests/FakePlatform.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    qvtest::FakePlatform::onBrokenContract = [](const std::string& what) { ADD_FAILURE() << what; };
    return RUN_ALL_TESTS();
}
