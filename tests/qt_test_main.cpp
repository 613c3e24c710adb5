// For test programs whose code needs the Qt application on the main thread (timers, message waits).
// Tests never need a screen, so the offscreen platform is the default (also while CTest lists the
// tests at build time).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
