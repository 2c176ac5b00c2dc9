#include <QCoreApplication>
#include <gtest/gtest.h>

// The writer and the listeners answer through the event loop: an application object, no window.
int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
