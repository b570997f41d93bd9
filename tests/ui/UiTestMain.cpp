#include "ui/theme/Theme.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>

// Widget tests need a QApplication (the shared main makes a QCoreApplication) with the theme
// applied, offscreen and at scale 1 so that one point is one pixel in the grabbed images.
int main(int argc, char** argv) {
    qputenv("QT_SCALE_FACTOR", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (const auto error = pexil::ui::Theme::apply(app)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
