// The card model as the session model wires it: catalogue changes, geo record, serial,
// destination, disconnection.
#include "app/session/SessionHarness.h"

#include "app/geo/GeoLink.h"
#include "app/geo/GeoStore.h"

namespace pexil {
namespace {

using testing::SessionHarness;

TEST(CardSession, SessionModelDrivesTheCardModel) {
    SessionHarness h;
    CardModel& card = h.model->card();
    EXPECT_FALSE(card.active());
    h.connectReady(camera::VirtualCamera::Model::d850, 3);
    ASSERT_TRUE(h.settle([&] { return card.items().size() == 3 && !card.loading(); }));
    EXPECT_EQ(card.serial(), h.camera->serialNumber());
    const QDateTime date = *card.items().front().captured;
    EXPECT_EQ(card.destination(date), h.model->destination(date));

    // A record from the phone naming the newest picture marks it.
    GeoPayload payload;
    payload.generated = QDateTime::currentDateTimeUtc();
    payload.shots[card.items().front().name] = GeoPoint{payload.generated, 35, 139, {}, {}};
    h.model->geo().adopt(GeoLink::Envelope{QStringLiteral("phone"), payload});
    EXPECT_EQ(card.locatableCount(), 1);
    EXPECT_TRUE(card.items().front().locatable);

    // Imports are recorded under the camera's serial, as fresh shots are.
    card.click(card.items().front().id);
    card.importSelected();
    ASSERT_TRUE(h.settle([&] { return card.lastSummary().has_value(); }));
    const CardItem& newest = card.items().front();
    EXPECT_TRUE(h.model->ledger().contains(
        ImportLedger::key(h.camera->serialNumber(), newest.name, newest.size, newest.captured)));

    card.setActive(true);
    h.model->disconnectCamera();
    ASSERT_TRUE(h.settle([&] { return h.model->state().is(ConnectionState::Kind::disconnected); }));
    EXPECT_FALSE(card.active());
    EXPECT_TRUE(h.settle([&] { return card.items().empty(); }));
}

}  // namespace
}  // namespace pexil
