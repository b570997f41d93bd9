// The card model as the session model wires it: catalogue changes, geo record, serial,
// destination, disconnection.
#include "app/session/SessionHarness.h"

#include "app/card/CardModel.h"
#include "app/card/ImportLedger.h"
#include "app/geo/GeoLink.h"
#include "app/geo/GeoStore.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace pexil {
namespace {

using testing::SessionHarness;

TEST(CardSession, SessionModelDrivesTheCardModel) {
    SessionHarness h;
    CardModel& card = h.model->card();
    EXPECT_FALSE(card.active());
    h.connectReady(QStringLiteral("d850"), 3);
    ASSERT_TRUE(h.settle([&] { return card.items().size() == 3 && !card.loading(); }));
    EXPECT_EQ(card.serial(), h.camera->serialNumber());
    const QDateTime date = *card.items().front().captured;
    EXPECT_EQ(card.destination(date), h.model->destination().folder(date));

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
    h.model->connection().disconnectCamera();
    ASSERT_TRUE(h.settle(
        [&] { return h.model->connection().state().is(ConnectionState::Kind::disconnected); }));
    EXPECT_FALSE(card.active());
    EXPECT_TRUE(h.settle([&] { return card.items().empty(); }));
}

// A shot that tethering is saving counts as imported from the moment the link takes it on:
// the card view must not offer it, nor "import all new" write a second copy beside it, while
// a slow link is still carrying it.
TEST(CardSession, ATetheredShotCountsAsImportedWhileItsTransferRuns) {
    SessionHarness h;
    h.cameraOnRealTime = true;  // the transfer crawls
    CardModel& card = h.model->card();
    h.connectReady(QStringLiteral("d850"), 2);
    ASSERT_TRUE(h.settle([&] { return card.items().size() == 2 && !card.loading(); }));
    card.setActive(true);
    h.camera->setBandwidth(0.1);  // the transfer outlasts the catalogue's change notice
    std::vector<bool> markedWhileSaving;
    QObject::connect(&card, &CardModel::itemsChanged, [&] {
        if (card.items().size() == 3 && h.model->shots().empty())
            markedWhileSaving.push_back(card.items().front().imported);
    });
    h.model->capture().shoot();
    ASSERT_TRUE(h.settle([&] { return h.model->shots().list().size() == 1; }, 120));
    ASSERT_FALSE(markedWhileSaving.empty()) << "the card listed the shot before it was saved";
    EXPECT_TRUE(std::all_of(markedWhileSaving.begin(), markedWhileSaving.end(),
                            [](bool imported) { return imported; }));

    h.camera->setBandwidth(0);
    card.importAll();
    ASSERT_TRUE(h.settle([&] { return card.lastSummary().has_value(); }));
    EXPECT_EQ(*card.lastSummary(), QString::fromUtf8("2 枚を取り込みました"));
    const QDir folder = QFileInfo(h.model->shots().list().front().path).dir();
    EXPECT_EQ(folder.entryList(QDir::Files).filter(QStringLiteral("-1.")), QStringList{});
    EXPECT_EQ(folder.entryList(QDir::Files).size(), 3);
}

}  // namespace
}  // namespace pexil
