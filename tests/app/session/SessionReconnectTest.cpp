// A camera on the network that goes away and comes back, on the virtual clock.
#include "SessionHarness.h"

#include "camera/ptpip/PtpIpServer.h"

#include <QDir>

#include <gtest/gtest.h>

namespace pexil {
namespace {

using testing::SessionHarness;

TEST(SessionReconnect, ALostCameraOnTheNetworkComesBackByItselfAndItsShotWhileAwayIsSavedOnce) {
    SessionHarness h(SessionHarness::Via::ptpip);
    h.connectReady();
    const std::uint16_t port = h.server->port();
    std::vector<CameraLink::Phase> phases;
    QObject::connect(&h.model->connection(), &ConnectionModel::linkPhase,
                     [&](const CameraLink::Phase& p) { phases.push_back(p); });

    // The camera leaves the network: the session is lost and a try is planned a second later.
    h.server->stop();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().reconnectAt().has_value(); }));
    EXPECT_TRUE(h.model->connection().state().is(ConnectionState::Kind::waiting));
    EXPECT_EQ(phases.back().kind, CameraLink::Phase::Kind::reconnecting);
    EXPECT_EQ(phases.back().name, QStringLiteral("D850"));
    const QDateTime first = *h.model->connection().reconnectAt();
    EXPECT_NEAR(h.rt.clock().now().msecsTo(first), 1000, 60);

    // Tries that fail wait longer each time: 1, 2, 5 s.
    ASSERT_TRUE(h.settle(
        [&] {
            return h.model->connection().reconnectAt() &&
                   *h.model->connection().reconnectAt() > first;
        },
        5));
    const QDateTime second = *h.model->connection().reconnectAt();
    ASSERT_TRUE(h.settle(
        [&] {
            return h.model->connection().reconnectAt() &&
                   *h.model->connection().reconnectAt() > second;
        },
        5));
    EXPECT_NEAR(second.msecsTo(*h.model->connection().reconnectAt()), 5000, 500);

    // A picture taken while away; then the camera is back on the same port.
    h.camera->pressShutter();
    h.server = std::make_unique<camera::PtpIpServer>(h.camera, "127.0.0.1", port);
    ASSERT_TRUE(h.server->start());
    ASSERT_TRUE(h.settle(
        [&] {
            return h.model->connection().state().is(ConnectionState::Kind::connected) &&
                   h.model->shots().list().size() == 1;
        },
        60));
    EXPECT_FALSE(h.model->connection().reconnectAt());
    EXPECT_EQ(std::count_if(phases.begin(), phases.end(),
                            [](const auto& p) { return p.kind == CameraLink::Phase::Kind::ready; }),
              1);
    // Once: nothing more arrives, and the destination holds one picture.
    h.settle([] { return false; }, 3);
    EXPECT_EQ(h.model->shots().list().size(), 1u);
    EXPECT_EQ(QDir(h.destination()).entryList(QDir::Files).size(), 1);

    // "Now" tries at once instead of waiting.
    h.server->stop();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().reconnectAt().has_value(); }));
    h.server = std::make_unique<camera::PtpIpServer>(h.camera, "127.0.0.1", port);
    ASSERT_TRUE(h.server->start());
    h.model->connection().reconnectNow();
    ASSERT_TRUE(h.waitUntil(
        [&] { return h.model->connection().state().is(ConnectionState::Kind::connected); }));
}

TEST(SessionReconnect, DisconnectingStopsTheTries) {
    SessionHarness h(SessionHarness::Via::ptpip);
    h.connectReady();
    h.server->stop();
    ASSERT_TRUE(h.settle([&] { return h.model->connection().reconnectAt().has_value(); }));
    h.model->connection().disconnectCamera();
    ASSERT_TRUE(h.waitUntil([&] { return !h.model->connection().reconnectAt(); }));
    h.settle([] { return false; }, 40);
    EXPECT_FALSE(h.model->connection().reconnectAt());
    EXPECT_FALSE(h.model->connection().state().is(ConnectionState::Kind::connected));
}

}  // namespace
}  // namespace pexil
