// Test main: a QCoreApplication exists for the whole run, because windows,
// timers and posted messages need an event dispatcher on the test thread.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
