#include <QCoreApplication>

#include <gtest/gtest.h>

// The engine delivers log updates and the end of a run through the main thread,
// so the tests need a Qt application whose events they process while waiting.
int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
