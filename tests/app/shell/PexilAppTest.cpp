#include "app/session/SessionModel.h"
#include "app/shell/LaunchOptions.h"
#include "app/shell/PexilApp.h"

#include <QCoreApplication>
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
    for (const bool autoConnect : {false, true}) {
        SCOPED_TRACE(autoConnect ? "on" : "off");
        QSettings().setValue(QStringLiteral("autoConnect"), autoConnect);
        LaunchOptions options;
        options.camera = QStringLiteral("virtual");
        auto made = PexilApp::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        PexilApp& app = *made.value();
        EXPECT_EQ(app.model().state().kind, Kind::disconnected);
        app.show();
        // The connection is started from the event loop right after the window appears, by a
        // zero-delay timer: a few passes of the loop are enough either way.
        for (int pass = 0; pass < 10; ++pass) QCoreApplication::processEvents();
        if (autoConnect)
            EXPECT_NE(app.model().state().kind, Kind::disconnected);
        else
            EXPECT_EQ(app.model().state().kind, Kind::disconnected);
    }
}

}  // namespace
}  // namespace pexil::shell
