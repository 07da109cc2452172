#include <QCoreApplication>

#include <gtest/gtest.h>

// QProcess, which runs the command line under test, wants a Qt application.
int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
