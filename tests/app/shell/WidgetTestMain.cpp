#include "ui/theme/Theme.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Widget tests need a QApplication, the theme and a settings store of their own: the windows
// remember their geometry in QSettings, which must not be the user's.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setOrganizationName(QStringLiteral("PexilTest"));
    QApplication::setApplicationName(QStringLiteral("PexilTest"));
    pexil::ui::Theme::apply(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
