#include "app/shell/LaunchOptions.h"
#include "app/shell/PexilApp.h"
#include "app/shots/PictureMemory.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

int main(int argc, char** argv) {
    pexil::returnPictureMemoryToSystem();
    QApplication app(argc, argv);
    // Where the preferences (QSettings) and the application's folders land.
    QApplication::setOrganizationName(QStringLiteral("Pexil"));
    QApplication::setApplicationName(QStringLiteral("Pexil"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pexil"));
    QApplication::setApplicationVersion(QStringLiteral(PEXIL_VERSION));
    // Lets Wayland compositors find the desktop entry, and with it the icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("app.pexil.Pexil"));

    const auto options = pexil::shell::LaunchOptions::parse(QApplication::arguments().mid(1));
    if (!options) {
        std::fprintf(stderr, "pexil: %s\n%s", qPrintable(options.error()),
                     qPrintable(pexil::shell::LaunchOptions::usage()));
        return 2;
    }
    if (options.value().version) {
        std::printf("pexil %s\n", PEXIL_VERSION);
        return 0;
    }
    if (options.value().help) {
        std::fputs(qPrintable(pexil::shell::LaunchOptions::usage()), stdout);
        return 0;
    }

    // Japanese standard buttons ("OK", "キャンセル") in Qt's own dialogs.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    if (const auto missing = pexil::ui::Theme::apply(app)) std::fprintf(stderr, "pexil: %s\n", qPrintable(*missing));

    auto shell = pexil::shell::PexilApp::create(options.value());
    if (!shell) {
        std::fprintf(stderr, "pexil: %s\n", qPrintable(shell.error()));
        return 1;
    }
    shell.value()->show();
    return QApplication::exec();
}
