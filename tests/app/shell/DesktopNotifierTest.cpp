// The desktop notification of a lost camera, on a private session bus of its own (dbus-daemon)
// with a stand-in notification service: what reaches the service, and when.
#include "ShellHarness.h"

#include "app/shell/DesktopNotifier.h"
#include "app/shell/main/MainWindow.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

// What the desktop's notification daemon would be told.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString summary, body;
        uint replaces;
    };
    std::vector<Shown> shown;
    std::vector<uint> closed;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int) {
        shown.push_back({summary, body, replaces});
        return static_cast<uint>(shown.size()) + 40;
    }
    void CloseNotification(uint id) { closed.push_back(id); }
};

// A dbus-daemon for this test alone, so the developer's desktop never sees a notification.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return;
        process_.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--print-address=1")});
        if (!process_.waitForReadyRead(10'000)) return;
        address_ = QString::fromUtf8(process_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        process_.kill();
        process_.waitForFinished();
    }
    bool ok() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess process_;
    QString address_;
    QStringList names_;
};

class DesktopNotifierTest : public ::testing::Test {
protected:
    DesktopNotifierTest() : window(*h.model) {}

    void SetUp() override {
        if (!bus.ok()) GTEST_SKIP() << "no dbus-daemon";
        QDBusConnection serviceSide = bus.connect(QStringLiteral("service"));
        ASSERT_TRUE(serviceSide.registerObject(DesktopNotifier::path, &service, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serviceSide.registerService(DesktopNotifier::service));
        window.notifier()->setBus(bus.connect(QStringLiteral("application")));
    }

    // Delivery through the daemon is real I/O; the program's own timers are not involved.
    bool delivered(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

    PrivateBus bus;
    FakeNotifications service;
    ShellHarness h;
    MainWindow window;
};

TEST_F(DesktopNotifierTest, aLossIsToldOnceWhileTheWindowIsElsewhereAndTakenBackOnReconnection) {
    ASSERT_TRUE(h.connectAndWait());
    ASSERT_FALSE(window.isActiveWindow());
    h.unplug();
    ASSERT_TRUE(
        h.until([&] { return h.model->connection().state().is(ConnectionState::Kind::waiting); }));
    ASSERT_TRUE(delivered([&] { return service.shown.size() == 1; }));
    EXPECT_EQ(service.shown[0].summary, QStringLiteral("カメラとの接続が切れました"));
    EXPECT_TRUE(service.shown[0].body.startsWith(QStringLiteral("カメラとの接続が切れました（")))
        << service.shown[0].body.toStdString();
    EXPECT_EQ(service.shown[0].replaces, 0u);
    // The waiting goes on (state changes, retries): still one notification.
    h.rt.runFor(async::Seconds(5));
    QTest::qWait(50);
    EXPECT_EQ(service.shown.size(), 1u);

    // Back: the notification is taken away; a second loss replaces nothing gone.
    h.plugAgain();
    ASSERT_TRUE(h.until(
        [&] { return h.model->connection().state().is(ConnectionState::Kind::connected); }));
    ASSERT_TRUE(delivered([&] { return service.closed.size() == 1; }));
    EXPECT_EQ(service.closed[0], 41u);
    h.unplug();
    ASSERT_TRUE(
        h.until([&] { return h.model->connection().state().is(ConnectionState::Kind::waiting); }));
    ASSERT_TRUE(delivered([&] { return service.shown.size() == 2; }));
    EXPECT_EQ(service.shown[1].replaces, 0u);
}

TEST_F(DesktopNotifierTest, theActiveWindowSaysItItselfAndTheDesktopHearsNothing) {
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(h.connectAndWait());
    h.unplug();
    ASSERT_TRUE(
        h.until([&] { return h.model->connection().state().is(ConnectionState::Kind::waiting); }));
    QTest::qWait(200);
    EXPECT_TRUE(service.shown.empty());
}

}  // namespace
}  // namespace pexil::shell

#include "DesktopNotifierTest.moc"
