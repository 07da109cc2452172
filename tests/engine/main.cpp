#include <QCoreApplication>
#include <gtest/gtest.h>

// Timers and the main-thread hand-off need a Qt application on this thread.
int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
