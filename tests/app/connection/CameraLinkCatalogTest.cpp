// The card catalogue: settling and coalesced change notices, on the virtual clock.
#include "LinkHarness.h"

namespace pexil::testing {
namespace {

TEST(CameraLinkCatalog, SettlesOneAndAHalfSecondsAfterTheLastReportAndStaysSettled) {
    LinkHarness h;
    h.link->settleOnCatalogComplete = false;  // the quiet period alone
    h.makeCamera(20);
    h.plug();
    h.openAndWaitReady(20);
    ASSERT_TRUE(h.link->cardExpected().has_value());
    const int counted = *h.link->cardExpected();
    EXPECT_GT(counted, 20) << "folders are objects too";
    EXPECT_LE(counted, 30);
    EXPECT_TRUE(h.lines().contains(QString::fromUtf8("カード内のオブジェクト %1 件").arg(counted)));
    EXPECT_FALSE(h.link->cardSettled());

    h.runTimers(1.4);
    EXPECT_FALSE(h.link->cardSettled());
    h.runTimers(0.2);
    EXPECT_TRUE(h.link->cardSettled());
    EXPECT_TRUE(h.lines().contains(
        QString::fromUtf8("カードの一覧が出そろった: 20 件（数えたオブジェクト %1 件）")
            .arg(counted)));
    EXPECT_TRUE(h.linesStarting("カードの一覧: ").isEmpty()) << "no extra wait within the slack";

    // A later report is catalogued and notified but does not unsettle.
    h.runTimers(1);
    const int changes = h.cardChanges;
    h.syncWall();
    h.camera->pressShutter();
    ASSERT_TRUE(h.waitUntil([&] { return h.link->cardFiles().size() == 21; }));
    h.drain();
    h.runTimers(0.5);
    EXPECT_TRUE(h.link->cardSettled());
    EXPECT_GT(h.cardChanges, changes);
}

TEST(CameraLinkCatalog, ACountLaggingBeyondTheSlackWaitsEightSecondsMoreAndSaysSo) {
    LinkHarness h;
    h.makeCamera(5);
    h.camera->unplug();
    h.camera.reset();
    // Empty folders count as objects but never arrive as files.
    for (int i = 1; i <= 12; ++i)
        ASSERT_TRUE(QDir().mkpath(h.cardDir() + QStringLiteral("/DCIM/%1NCD850").arg(100 + i)));
    h.makeCamera();
    h.plug();
    h.openAndWaitReady(5);
    ASSERT_TRUE(h.link->cardExpected().has_value());
    const int counted = *h.link->cardExpected();
    ASSERT_GT(counted, 15);

    h.runTimers(1.6);
    EXPECT_FALSE(h.link->cardSettled());
    h.runTimers(7.8);
    EXPECT_FALSE(h.link->cardSettled());
    h.runTimers(0.2);
    EXPECT_TRUE(h.link->cardSettled());
    const QStringList lines = h.lines();
    const auto stopped = lines.indexOf(
        QString::fromUtf8("カードの一覧: %1 件のうち 5 件で到着が止まった").arg(counted));
    const auto settled = lines.indexOf(
        QString::fromUtf8("カードの一覧が出そろった: 5 件（数えたオブジェクト %1 件）")
            .arg(counted));
    EXPECT_GE(stopped, 0);
    EXPECT_GT(settled, stopped);
}

TEST(CameraLinkCatalog, TenBatchesInABurstGiveOneChangeNotice) {
    LinkHarness h;
    h.link->settleOnCatalogComplete = false;  // settling comes after the burst's notice
    h.makeCamera(1900);                       // ten batches of at most 200 items from the service
    h.plug();
    h.openAndWaitReady(1900);
    EXPECT_EQ(h.cardChanges, 0) << "nothing before the coalescing window ends";
    h.runTimers(0.31);
    EXPECT_EQ(h.cardChanges, 1);
    h.runTimers(0.5);
    EXPECT_EQ(h.cardChanges, 1);
    h.runTimers(1.0);  // settling is a change of its own
    EXPECT_TRUE(h.link->cardSettled());
    EXPECT_EQ(h.cardChanges, 2);
    EXPECT_TRUE(h.lines().contains(
        QString::fromUtf8("カードの一覧が出そろった: 1900 件（数えたオブジェクト %1 件）")
            .arg(h.link->cardExpected().value_or(-1))));
}

// The service's notice with the camera's count agreeing settles at once, whichever way the
// catalogue was read and however the camera is reached; a later shot does not unsettle.
TEST(CameraLinkCatalog, TheServicesNoticeWithAnAgreeingCountSettlesWithoutTheQuietPeriod) {
    struct Case {
        const char* name;
        LinkHarness::Via via;
        bool propList;
    };
    for (const Case& c : {Case{"in process, object list", LinkHarness::Via::inProcess, true},
                          Case{"in process, object by object", LinkHarness::Via::inProcess, false},
                          Case{"PTP/IP, object list", LinkHarness::Via::ptpip, true},
                          Case{"PTP/IP, object by object", LinkHarness::Via::ptpip, false}}) {
        SCOPED_TRACE(c.name);
        LinkHarness h(c.via);
        camera::VirtualCamera::Options options;
        options.cardDir = h.cardDir();
        options.photos = 30;
        options.objectPropList = c.propList;
        options.wallClock = [wall = h.wallMs] {
            return QDateTime::fromMSecsSinceEpoch(wall->load(), Qt::UTC).toLocalTime();
        };
        auto made = camera::VirtualCamera::create(options);
        ASSERT_TRUE(made) << made.error().toStdString();
        h.camera = made.value();
        h.plug();
        const double opened = h.rt.clock().monotonic().count();
        h.openAndWaitReady(30);
        // Time stood still while the camera answered: no timer ran.
        EXPECT_EQ(h.rt.clock().monotonic().count(), opened);
        EXPECT_TRUE(h.link->cardSettled());
        const int counted = h.link->cardExpected().value_or(-1);
        EXPECT_EQ(h.linesStarting("カードの一覧が出そろった").size(), 1);
        EXPECT_TRUE(h.lines().contains(
            QString::fromUtf8("カードの一覧が出そろった: 30 件（数えたオブジェクト %1 件）")
                .arg(counted)));
        h.runTimers(0.31);
        EXPECT_EQ(h.cardChanges, 1) << "the catalogue and its settling in one notice";

        h.syncWall();
        h.camera->pressShutter();
        ASSERT_TRUE(h.waitUntil([&] { return h.link->cardFiles().size() == 31; }));
        h.drain();
        h.runTimers(2);
        EXPECT_TRUE(h.link->cardSettled());
        EXPECT_EQ(h.linesStarting("カードの一覧が出そろった").size(), 1);
    }
}

TEST(CameraLinkCatalog, ALostSessionForgetsTheCatalogue) {
    LinkHarness h;
    h.makeCamera(3);
    h.plug();
    h.openAndWaitReady(3);
    h.runTimers(2);
    ASSERT_TRUE(h.link->cardSettled());
    h.unplug();
    ASSERT_TRUE(h.waitUntil([&] { return !h.lost.empty(); }));
    EXPECT_TRUE(h.link->cardFiles().empty());
    EXPECT_FALSE(h.link->cardSettled());
    EXPECT_FALSE(h.link->cardExpected().has_value());
    EXPECT_EQ(h.link->camera(), nullptr);
}

}  // namespace
}  // namespace pexil::testing
