#include "app/connection/ConnectionModel.h"
#include "app/session/SessionModel.h"
#include "app/shell/LaunchOptions.h"
#include "app/shell/PexilApp.h"
#include "app/shell/diagnosis/LogWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pexil::shell {
namespace {

using Kind = ConnectionState::Kind;

// The application on the in-process virtual camera, the preference set as given, shown once:
// with auto-connect on the connection starts by itself, with it off nothing happens until the
// photographer asks.
TEST(PexilApp, TheFirstShowConnectsOnlyWhenAutoConnectIsOn) {
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    qputenv("HOME", home.path().toUtf8());  // the diagnostic log goes below it
    qunsetenv("XDG_STATE_HOME");
    for (const bool autoConnect : {false, true}) {
        SCOPED_TRACE(autoConnect ? "on" : "off");
        QSettings().setValue(QStringLiteral("autoConnect"), autoConnect);
        LaunchOptions options;
        options.camera = QStringLiteral("virtual");
        auto made = PexilApp::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        PexilApp& app = *made.value();
        EXPECT_EQ(app.model().connection().state().kind, Kind::disconnected);
        app.show();
        // The connection is started from the event loop right after the window appears, by a
        // zero-delay timer: a few passes of the loop are enough either way.
        for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
        if (autoConnect)
            EXPECT_NE(app.model().connection().state().kind, Kind::disconnected);
        else
            EXPECT_EQ(app.model().connection().state().kind, Kind::disconnected);
    }
}

TEST(PexilApp, TheAboutBoxNamesTheVersionTheLibrariesTheirLicencesAndTheLog) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qunsetenv("XDG_STATE_HOME");
    LaunchOptions options;
    options.camera = QStringLiteral("virtual");
    auto made = PexilApp::create(options);
    ASSERT_TRUE(made) << made.error().toStdString();
    const QString about = made.value()->aboutText();
    for (const char* part : {"Pexil ", "Qt ", "libusb", "libjpeg-turbo", "ExifTool", "LGPL"})
        EXPECT_TRUE(about.contains(QString::fromUtf8(part))) << part;
    EXPECT_TRUE(about.contains(home.path() + QStringLiteral("/.local/state/Pexil/Pexil.log"))) << about.toStdString();
}

// Without a viewer for text files the log opens inside the application and follows the file.
TEST(LogWindow, ShowsTheLogAndWhatIsAddedToIt) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Pexil.log"));
    LogWindow window(path);
    EXPECT_EQ(window.text(), QStringLiteral("（まだ何も書かれていません）"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("[09:00:00.000] 接続: D850\n");
    file.flush();
    window.reload();
    EXPECT_EQ(window.text(), QStringLiteral("[09:00:00.000] 接続: D850\n"));
    file.write("[09:00:01.000] 準備完了\n");
    file.flush();
    window.reload();
    EXPECT_TRUE(window.text().endsWith(QStringLiteral("準備完了\n")));
}

}  // namespace
}  // namespace pexil::shell
