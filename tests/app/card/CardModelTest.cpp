// The card model on the virtual camera: catalogue, marks, selection, preview, thumbnails.
#include "app/card/CardHarness.h"

#include "app/geo/GeoLink.h"

#include <QFileInfo>

namespace pexil {
namespace {

using testing::CardHarness;

constexpr std::uint16_t kGetThumb = 0x100A;

TEST(CardModel, CatalogueIsSortedNewestFirstAndSettles) {
    CardHarness h;
    h.connectSettled(7);
    const CardItems& items = h.card->items();
    ASSERT_EQ(items.size(), 7u);
    CardItems sorted = items;
    CardModel::sortNewestFirst(sorted);
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].id, sorted[i].id);
        ASSERT_TRUE(items[i].captured);
        EXPECT_EQ(items[i].id, items[i].file->parentFolder() + u'/' + items[i].name);
        EXPECT_EQ(items[i].size, static_cast<qint64>(items[i].file->fileSize()));
        EXPECT_FALSE(items[i].imported);
        EXPECT_FALSE(items[i].locatable);
    }
    // The card fills oldest first: DSC_0007 is the newest picture.
    EXPECT_TRUE(items.front().name.startsWith(QStringLiteral("DSC_0007")));
    EXPECT_FALSE(h.card->loading());
    // Seven files and their folders (DCIM and one picture folder).
    EXPECT_EQ(h.card->expected(), std::optional<int>(9));
}

TEST(CardModel, SelectionGestures) {
    CardHarness h;
    h.connectSettled(6);
    const QStringList ids = h.ids();
    const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);
    const auto shift = Qt::KeyboardModifiers(Qt::ShiftModifier);
    const auto both = Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier);
    const QString stranger = QStringLiteral("999ZZZZZ/NOT_THERE.JPG");
    struct Click {
        QString id;
        Qt::KeyboardModifiers modifiers;
    };
    struct Case {
        const char* what;
        std::vector<Click> clicks;
        std::set<QString> selection;
        QString anchor;
    };
    const std::vector<Case> cases = {
        {"plain click selects one", {{ids[2], {}}}, {ids[2]}, ids[2]},
        {"plain click replaces", {{ids[2], {}}, {ids[4], {}}}, {ids[4]}, ids[4]},
        {"ctrl adds", {{ids[1], {}}, {ids[3], ctrl}}, {ids[1], ids[3]}, ids[3]},
        {"ctrl on a selected item removes it and anchors there, shift then selects the range",
         {{ids[1], {}}, {ids[3], ctrl}, {ids[3], ctrl}, {ids[5], shift}},
         {ids[3], ids[4], ids[5]},
         ids[3]},
        {"shift selects the range upwards too",
         {{ids[4], {}}, {ids[1], shift}},
         {ids[1], ids[2], ids[3], ids[4]},
         ids[4]},
        {"shift after shift replaces the range from the same anchor",
         {{ids[2], {}}, {ids[5], shift}, {ids[0], shift}},
         {ids[0], ids[1], ids[2]},
         ids[2]},
        {"shift without an anchor selects only the item", {{ids[3], shift}}, {ids[3]}, ids[3]},
        {"shift with an anchor no longer listed selects only the item",
         {{stranger, {}}, {ids[1], shift}},
         {ids[1]},
         ids[1]},
        {"ctrl wins over shift", {{ids[0], {}}, {ids[3], both}}, {ids[0], ids[3]}, ids[3]},
    };
    for (const Case& c : cases) {
        // A fresh start for each row: no selection and no anchor.
        h.restartModel();
        h.card->refresh();
        ASSERT_EQ(h.ids(), ids);
        for (const Click& click : c.clicks) h.card->click(click.id, click.modifiers);
        EXPECT_EQ(h.card->selection(), c.selection) << c.what;
        EXPECT_EQ(h.card->anchor(), std::optional<QString>(c.anchor)) << c.what;
    }
}

TEST(CardModel, RefreshKeepsSelectedIdsThatStillExist) {
    CardHarness h;
    h.connectSettled(3);
    const QStringList ids = h.ids();
    const QString gone = QStringLiteral("100NCD850/DSC_9999.JPG");
    h.card->click(ids[0]);
    h.card->click(gone, Qt::ControlModifier);
    h.card->click(ids[2], Qt::ControlModifier);
    ASSERT_EQ(h.card->selection().size(), 3u);
    testing::Emissions selection(h.card.get(), &CardModel::selectionChanged);
    h.card->refresh();
    EXPECT_EQ(h.card->selection(), (std::set<QString>{ids[0], ids[2]}));
    EXPECT_EQ(selection.count, 1);
}

TEST(CardModel, StepMovesFocusWithinTheList) {
    CardHarness h;
    h.connectSettled(3);
    const QStringList ids = h.ids();
    h.card->step(1);  // no focus: nothing
    EXPECT_FALSE(h.card->focus());
    EXPECT_TRUE(h.card->selection().empty());

    h.card->open(ids[1]);
    h.card->step(1);
    EXPECT_EQ(h.card->focus(), std::optional<QString>(ids[2]));
    EXPECT_EQ(h.card->selection(), std::set<QString>{ids[2]});
    EXPECT_EQ(h.card->anchor(), std::optional<QString>(ids[2]));
    h.card->step(1);  // past the end: nothing
    EXPECT_EQ(h.card->focus(), std::optional<QString>(ids[2]));
    h.card->step(-2);
    EXPECT_EQ(h.card->focus(), std::optional<QString>(ids[0]));
    h.card->step(-1);
    EXPECT_EQ(h.card->focus(), std::optional<QString>(ids[0]));
    EXPECT_EQ(h.card->selection(), std::set<QString>{ids[0]});
}

TEST(CardModel, PreviewIsTheRawFilesEmbeddedJpegOrTheJpegItself) {
    CardHarness h;
    h.connectSettled(2);  // DSC_0001.JPG and DSC_0002.NEF
    const QString raw = h.idOf(QStringLiteral("DSC_0002.NEF"));
    const QString jpeg = h.idOf(QStringLiteral("DSC_0001.JPG"));
    ASSERT_FALSE(raw.isEmpty());
    ASSERT_FALSE(jpeg.isEmpty());

    h.card->open(raw);
    ASSERT_TRUE(h.waitUntil([&] { return !h.card->preview().isNull(); }));
    // The embedded preview is the picture at its full (virtual) size.
    EXPECT_GT(std::max(h.card->preview().width(), h.card->preview().height()), 1000);

    h.card->open(jpeg);
    EXPECT_TRUE(h.card->preview().isNull());  // emptied at once
    ASSERT_TRUE(h.waitUntil([&] { return !h.card->preview().isNull(); }));
    // The JPEG itself, not the camera's 160-pixel thumbnail of it.
    const int longSide = std::max(h.card->preview().width(), h.card->preview().height());
    EXPECT_GT(longSide, 1000);
    EXPECT_LE(longSide, CardModel::previewPixels);
}

TEST(CardModel, StalePreviewIsNeverShown) {
    // A's answers arrive after B was opened: before B's preview, or after it.
    for (const bool aFirst : {true, false}) {
        CardHarness h;
        h.connectSettled(4);
        const QString a = h.idOf(QStringLiteral("DSC_0002.NEF"));
        const QString b = h.idOf(QStringLiteral("DSC_0004.NEF"));
        h.gate.hold(QStringLiteral("DSC_0002.NEF"));
        if (aFirst) h.gate.hold(QStringLiteral("DSC_0004.NEF"));
        int shown = 0;
        QObject::connect(h.card.get(), &CardModel::previewChanged, [&] {
            if (!h.card->preview().isNull()) ++shown;
        });

        h.card->open(a);
        ASSERT_TRUE(
            h.waitUntil([&] { return h.gate.waiting(QStringLiteral("DSC_0002.NEF")) > 0; }));
        h.card->open(b);
        if (aFirst) {
            ASSERT_TRUE(
                h.waitUntil([&] { return h.gate.waiting(QStringLiteral("DSC_0004.NEF")) > 0; }));
            h.gate.release(QStringLiteral("DSC_0002.NEF"));
            // The head, then the preview itself: A's load has everything it asked for.
            ASSERT_TRUE(
                h.waitUntil([&] { return h.gate.delivered(QStringLiteral("DSC_0002.NEF")) >= 2; }));
            h.drain();
            EXPECT_EQ(shown, 0) << "A's preview appeared while B was focused";
            h.gate.release(QStringLiteral("DSC_0004.NEF"));
            ASSERT_TRUE(h.waitUntil([&] { return shown > 0; }));
        } else {
            ASSERT_TRUE(h.waitUntil([&] { return shown > 0; }));
            h.gate.release(QStringLiteral("DSC_0002.NEF"));
            ASSERT_TRUE(
                h.waitUntil([&] { return h.gate.delivered(QStringLiteral("DSC_0002.NEF")) >= 2; }));
        }
        h.drain();
        EXPECT_EQ(shown, 1) << (aFirst ? "A answered first" : "B answered first");
        EXPECT_EQ(h.card->focus(), std::optional<QString>(b));
        EXPECT_FALSE(h.card->preview().isNull());
    }
}

TEST(CardModel, ThumbnailsAreFetchedOncePerCatalogue) {
    CardHarness h;
    h.connectSettled(3);
    const QStringList ids = h.ids();
    testing::Emissions updated(h.card.get(), &CardModel::itemUpdated);
    const int before = h.camera->callCount(kGetThumb);

    h.card->requestThumbnail(ids[0]);
    h.card->requestThumbnail(ids[0]);  // already queued
    h.card->requestThumbnail(ids[1]);
    h.card->withdrawThumbnail(ids[1]);  // scrolled away first
    ASSERT_TRUE(h.settle([&] { return !h.card->thumbnailWorkerRunning(); }));
    EXPECT_EQ(h.camera->callCount(kGetThumb) - before, 1);
    EXPECT_FALSE(h.card->items()[0].thumbnail.isNull());
    EXPECT_LE(std::max(h.card->items()[0].thumbnail.width(), h.card->items()[0].thumbnail.height()),
              CardModel::thumbnailPixels);
    EXPECT_TRUE(h.card->items()[1].thumbnail.isNull());
    EXPECT_EQ(updated.count, 1);

    // Asked again after it arrived: not fetched again, and it survives a refresh.
    h.card->requestThumbnail(ids[0]);
    h.card->refresh();
    ASSERT_TRUE(h.settle([&] { return !h.card->thumbnailWorkerRunning(); }));
    EXPECT_EQ(h.camera->callCount(kGetThumb) - before, 1);
    EXPECT_FALSE(h.card->items()[0].thumbnail.isNull());
}

TEST(CardModel, ThumbnailsWaitForTheCatalogueToSettle) {
    CardHarness h;
    h.makeCamera(h.cameraOptions(3));
    h.plug();
    // The quiet period on the test's clock decides when it settles: a complete catalogue
    // whose count agrees would settle within the same wait on a busy machine.
    h.link->settleOnCatalogComplete = false;
    h.link->open();
    // Files are catalogued before the catalogue settles.
    ASSERT_TRUE(h.waitUntil(
        [&] { return h.card->items().size() == 3 || h.link->cardFiles().size() == 3; }));
    if (h.card->items().size() != 3) h.card->refresh();
    ASSERT_TRUE(h.card->loading());
    const int before = h.camera->callCount(kGetThumb);
    for (const QString& id : h.ids()) h.card->requestThumbnail(id);
    h.drain();
    EXPECT_EQ(h.camera->callCount(kGetThumb), before);
    EXPECT_FALSE(h.card->thumbnailWorkerRunning());

    ASSERT_TRUE(h.settle([&] { return !h.card->loading(); }));
    ASSERT_TRUE(h.settle([&] {
        return std::all_of(h.card->items().begin(), h.card->items().end(),
                           [](const CardItem& i) { return !i.thumbnail.isNull(); });
    }));
    EXPECT_EQ(h.camera->callCount(kGetThumb) - before, 3);
}

TEST(CardModel, ImportedMarkFromTheDestination) {
    CardHarness h;
    h.connectSettled(3);
    const CardItem newest = h.card->items().front();
    const CardItem oldest = h.card->items().back();
    const QString middle = h.card->items()[1].name;
    QDir().mkpath(h.destination());
    // Same name and size: imported. Same name, other size: not. Same picture under a
    // numbered name: not (only the ledger knows such copies).
    ASSERT_TRUE(QFile::copy(h.cardDir() + "/DCIM/" + newest.id,
                            QDir(h.destination()).filePath(newest.name)));
    QFile other(QDir(h.destination()).filePath(middle));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("not the same size");
    other.close();
    const QFileInfo oldestName(oldest.name);
    ASSERT_TRUE(
        QFile::copy(h.cardDir() + "/DCIM/" + oldest.id,
                    QDir(h.destination())
                        .filePath(oldestName.completeBaseName() + "-1." + oldestName.suffix())));
    h.card->refresh();
    EXPECT_TRUE(h.card->items()[0].imported);
    EXPECT_FALSE(h.card->items()[1].imported);
    EXPECT_FALSE(h.card->items()[2].imported);
    EXPECT_EQ(h.card->unimported().size(), 2u);

    // The ledger knows the numbered copy.
    h.ledger->record(QStringLiteral("3000123"), oldest.name, oldest.size, oldest.captured);
    h.card->refresh();
    EXPECT_TRUE(h.card->items()[2].imported);
}

TEST(CardModel, LocatableFollowsTheGeoRecord) {
    CardHarness h;
    h.connectSettled(4);
    const CardItems items = h.card->items();
    EXPECT_EQ(h.card->locatableCount(), 0);

    GeoPayload payload;
    payload.generated = QDateTime::currentDateTimeUtc();
    // One picture by name, one by a track point 119 s from its capture time, one 121 s away.
    payload.shots[items[0].name] = GeoPoint{*items[0].captured, 35.0, 139.0, {}, {}};
    payload.track.push_back(GeoPoint{items[1].captured->addSecs(119), 35.1, 139.1, {}, {}});
    payload.track.push_back(GeoPoint{items[3].captured->addSecs(-121), 35.2, 139.2, {}, {}});
    testing::Emissions changed(h.card.get(), &CardModel::itemsChanged);
    h.geo->adopt(GeoLink::Envelope{QStringLiteral("phone"), payload});
    EXPECT_GE(changed.count, 1);
    std::vector<bool> marks;
    for (const CardItem& item : h.card->items()) marks.push_back(item.locatable);
    // The card's pictures lie hours apart: item 2 is far from both track points.
    ASSERT_GT(std::llabs(items[2].captured->secsTo(*items[1].captured)), 3600);
    ASSERT_GT(std::llabs(items[2].captured->secsTo(*items[3].captured)), 3600);
    EXPECT_EQ(marks, (std::vector<bool>{true, true, false, false}));
    EXPECT_EQ(h.card->locatableCount(), 2);
}

TEST(CardModel, ResetEmptiesTheBrowserButKeepsTheAnchor) {
    CardHarness h;
    h.connectSettled(3);
    const QStringList ids = h.ids();
    h.card->click(ids[1]);
    h.card->open(ids[1]);
    ASSERT_TRUE(h.waitUntil([&] { return !h.card->preview().isNull(); }));
    // The camera goes away: the link's catalogue empties and the model follows.
    h.source->remove(h.device);
    h.camera->unplug();
    ASSERT_TRUE(h.settle([&] { return h.card->items().empty(); }));
    EXPECT_TRUE(h.card->selection().empty());
    EXPECT_FALSE(h.card->focus());
    EXPECT_TRUE(h.card->preview().isNull());
    EXPECT_FALSE(h.card->loading());
    EXPECT_FALSE(h.card->expected());
    EXPECT_TRUE(h.card->thumbnailRequested().empty());
    EXPECT_EQ(h.card->anchor(), std::optional<QString>(ids[1]));
}

TEST(CardModel, WriteLocationsPreference) {
    struct Case {
        std::optional<QVariant> stored;
        bool expected;
    };
    const std::vector<Case> cases = {
        {std::nullopt, true},
        {QVariant(false), false},
        {QVariant(true), true},
        {QVariant(QStringLiteral("false")), false},
        {QVariant(QStringLiteral("perhaps")), true},
        {QVariant(7), true},
    };
    for (const Case& c : cases) {
        CardHarness h;
        if (c.stored) h.settings->setValue(CardModel::writeLocationsKey(), *c.stored);
        h.restartModel();
        EXPECT_EQ(h.card->writeLocations(), c.expected)
            << (c.stored ? c.stored->toString().toStdString() : "missing");
    }
    CardHarness h;
    testing::Emissions changed(h.card.get(), &CardModel::writeLocationsChanged);
    h.card->setWriteLocations(false);
    EXPECT_EQ(changed.count, 1);
    QSettings reread(h.settings->fileName(), QSettings::IniFormat);
    EXPECT_EQ(reread.value(CardModel::writeLocationsKey()).toString(), QStringLiteral("false"));
    h.restartModel();
    EXPECT_FALSE(h.card->writeLocations());
}

}  // namespace
}  // namespace pexil
