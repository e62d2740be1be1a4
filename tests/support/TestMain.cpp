// Entry point of every test program: Qt's offscreen platform (no display
// needed), one QApplication for the whole run, then GoogleTest.
#include <QtWidgets/QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
