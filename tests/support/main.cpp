#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests run with a QCoreApplication so that Qt's text and time facilities behave as in
// the program; nothing here runs its event loop unless a test asks for it.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
