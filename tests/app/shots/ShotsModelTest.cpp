// The session's shots as the filmstrip's rows: new shots inserted at the top and shown, the
// row shown following the selection, pictures decoded on the queue given, and old shots
// keeping only a cell-sized copy. Qt's model tester checks every change against the
// item-model contract.
#include "app/shots/ShotFilter.h"
#include "app/shots/ShotsModel.h"
#include "app/shots/XmpSidecar.h"
#include "camera/virtual/PictureFactory.h"
#include "kit/async/Executor.h"
#include "kit/async/VirtualRuntime.h"
#include "tests/app/shots/SavedPicture.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace pexil {
namespace {

class ShotsModelTest : public ::testing::Test {
protected:
    QString save(int number) {
        return testing::savePicture(factory, QDir(folder.path()), number, 1800, 1200);
    }
    QUuid add(int number) {
        const QUuid id = shots.add(save(number), rt.clock().now());
        rt.runReady();
        return id;
    }
    bool shownAt(int row) const {
        for (int r = 0; r < shots.rowCount(); ++r)
            if (shots.index(r).data(ShotsModel::SelectedRole).toBool() != (r == row)) return false;
        return true;
    }
    static int longSide(const QImage& image) { return std::max(image.width(), image.height()); }

    QTemporaryDir folder;
    camera::PictureFactory factory;
    async::VirtualRuntime rt;
    async::InlineExecutor decode;
    ShotsModel shots{rt, decode};
    QAbstractItemModelTester tester{&shots, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(ShotsModelTest, aNewShotComesFirstAndIsShownWithItsPictureAndTexts) {
    add(1);
    const QUuid second = add(2);
    ASSERT_EQ(shots.rowCount(), 2);
    EXPECT_EQ(shots.index(0).data(ShotsModel::IdRole).toUuid(), second);
    EXPECT_EQ(shots.index(0).data(Qt::DisplayRole).toString(), QStringLiteral("DSC_0002.JPG"));
    EXPECT_EQ(shots.selection(), second);
    EXPECT_EQ(shots.shown()->id, second);
    EXPECT_TRUE(shownAt(0));
    EXPECT_FALSE(shots.index(1).data(Qt::DecorationRole).value<QImage>().isNull());
    // Without a capture time in the file, the time it arrived stands in, and says so.
    EXPECT_EQ(shots.index(0).data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("DSC_0002.JPG、2024年6月1日 12:00:00 受信"));
    EXPECT_TRUE(shots.index(0).data(Qt::AccessibleDescriptionRole).toString().contains(QStringLiteral("表示中")));
    EXPECT_FALSE(shots.index(1).data(Qt::AccessibleDescriptionRole).toString().contains(QStringLiteral("表示中")));
    // The shot shown gets its full preview.
    EXPECT_EQ(shots.fullPreviewID(), second);
    EXPECT_EQ(shots.fullPreview().size(), QSize(1800, 1200));
}

TEST_F(ShotsModelTest, theShownRowFollowsTheSelectionAndOldShotsKeepASmallCopy) {
    const QUuid first = add(1);
    add(2);
    add(3);
    shots.select(first);
    rt.runReady();
    EXPECT_TRUE(shownAt(2));
    EXPECT_EQ(shots.fullPreviewID(), first);
    EXPECT_FALSE(shots.fullPreview().isNull());
    shots.select(QUuid::createUuid());  // not a shot: nothing changes
    EXPECT_EQ(shots.selection(), first);

    // A fourth shot is shown instead; the first, now fourth newest and not shown, is shrunk.
    const QUuid fourth = add(4);
    EXPECT_TRUE(shownAt(0));
    EXPECT_EQ(shots.selection(), fourth);
    EXPECT_LE(longSide(shots.shot(first)->thumbnail), 128);
    for (int row = 0; row < 3; ++row)
        EXPECT_GE(longSide(shots.index(row).data(Qt::DecorationRole).value<QImage>()), 1200) << row;
}

// A new shot takes the view only when the photographer lets it and is not looking closely;
// otherwise it is marked new until it is looked at. The first shot is always shown.
TEST_F(ShotsModelTest, aNewShotWaitsWithAMarkWhileTheViewIsHeldOrNotFollowing) {
    struct Case {
        const char* name;
        bool followNew;
        bool held;
        bool takesView;
    };
    for (const Case& c :
         {Case{"following", true, false, true}, Case{"zoomed in", true, true, false},
          Case{"not following", false, false, false}, Case{"neither", false, true, false}}) {
        SCOPED_TRACE(c.name);
        ShotsModel model{rt, decode};
        QAbstractItemModelTester check{&model,
                                       QAbstractItemModelTester::FailureReportingMode::Fatal};
        model.setFollowNew(c.followNew);
        model.setHeld(c.held);
        const QUuid first = model.add(save(1), rt.clock().now());
        EXPECT_EQ(model.selection(), first);
        const QUuid second = model.add(save(2), rt.clock().now());
        rt.runReady();
        EXPECT_EQ(model.selection(), c.takesView ? second : first);
        EXPECT_EQ(model.index(0).data(ShotsModel::NewRole).toBool(), !c.takesView);
        EXPECT_EQ(model.newCount(), c.takesView ? 0 : 1);
        EXPECT_EQ(model.index(0)
                      .data(Qt::AccessibleDescriptionRole)
                      .toString()
                      .contains(QStringLiteral("新着")),
                  !c.takesView);
        model.select(second);
        EXPECT_FALSE(model.index(0).data(ShotsModel::NewRole).toBool());
        EXPECT_EQ(model.newCount(), 0);
    }
}

TEST_F(ShotsModelTest, marksShowAtOnceAreWrittenBesideThePictureAndFilterTheStrip) {
    const QUuid first = add(1);
    const QUuid second = add(2);
    const QUuid third = add(3);
    QStringList failures;
    QObject::connect(&shots, &ShotsModel::markFailed,
                     [&](const QString& text) { failures << text; });
    shots.mark(first, ShotMark{}.withStars(3));
    shots.mark(second, ShotMark{}.togglePick());
    shots.mark(third, ShotMark{}.toggleReject());
    rt.runFor(async::Seconds(1));
    EXPECT_EQ(failures, QStringList());
    const int firstRow = shots.rowOf(first);
    EXPECT_EQ(shots.index(firstRow).data(ShotsModel::RatingRole).toInt(), 3);
    EXPECT_TRUE(shots.index(firstRow)
                    .data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .contains(QStringLiteral("星 3")));
    EXPECT_TRUE(shots.index(shots.rowOf(second)).data(ShotsModel::PickedRole).toBool());
    EXPECT_TRUE(shots.index(shots.rowOf(third))
                    .data(Qt::AccessibleDescriptionRole)
                    .toString()
                    .contains(QStringLiteral("不採用")));
    EXPECT_EQ(XmpSidecar::read(shots.shot(first)->path), (ShotMark{3, false}));
    EXPECT_EQ(XmpSidecar::read(shots.shot(second)->path), (ShotMark{0, true}));
    EXPECT_EQ(XmpSidecar::read(shots.shot(third)->path), (ShotMark{-1, false}));

    // A pick and a reject exclude each other; a reject taken back has no stars.
    EXPECT_EQ((ShotMark{4, true}).toggleReject(), (ShotMark{-1, false}));
    EXPECT_EQ((ShotMark{-1, false}).togglePick(), (ShotMark{0, true}));
    EXPECT_EQ((ShotMark{-1, false}).toggleReject(), (ShotMark{0, false}));
    EXPECT_EQ((ShotMark{-1, false}).withStars(2), (ShotMark{2, false}));

    ShotFilter filter;
    filter.setSourceModel(&shots);
    QAbstractItemModelTester filterTester{&filter,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal};
    const std::pair<ShotFilter::Kind, int> counts[] = {{ShotFilter::Kind::all, 3},
                                                       {ShotFilter::Kind::picks, 1},
                                                       {ShotFilter::Kind::notRejected, 2}};
    for (const auto& [kind, count] : counts) {
        filter.setKind(kind);
        EXPECT_EQ(filter.rowCount(), count) << static_cast<int>(kind);
    }
    // The filter follows marks as they change.
    filter.setKind(ShotFilter::Kind::picks);
    shots.mark(first, ShotMark{3, false}.togglePick());
    EXPECT_EQ(filter.rowCount(), 2);
    filter.setKind(ShotFilter::Kind::notRejected);
    shots.mark(third, ShotMark{-1, false}.toggleReject());
    EXPECT_EQ(filter.rowCount(), 3);
}

TEST_F(ShotsModelTest, aClientsFavouriteAndCommentShowInTheStrip) {
    const QUuid id = add(1);
    const QModelIndex row = shots.index(0);
    const struct {
        bool favourite;
        QString comment;
        QString note;
    } cases[] = {
        {true, {}, QStringLiteral("♥ クライアント")},
        {true, QStringLiteral("もう少し明るく"),
         QStringLiteral("♥ クライアント「もう少し明るく」")},
        {false, QStringLiteral("いいね"), QStringLiteral("クライアント「いいね」")},
        {false, {}, {}},
    };
    for (const auto& c : cases) {
        shots.setClientNote(id, c.favourite, c.comment);
        EXPECT_EQ(row.data(ShotsModel::ClientFavouriteRole).toBool(), c.favourite);
        EXPECT_EQ(shots.shot(id)->clientNoteText(), c.note);
        EXPECT_EQ(row.data(Qt::ToolTipRole).toString(),
                  QStringLiteral("DSC_0001.JPG") + (c.note.isEmpty() ? QString() : u'\n' + c.note));
        EXPECT_EQ(row.data(Qt::AccessibleDescriptionRole)
                      .toString()
                      .contains(QStringLiteral("クライアント")),
                  !c.note.isEmpty());
        // The favourite is the sidecar's purple label for the raw editors.
        rt.runFor(async::Seconds(1));
        QFile sidecar(XmpSidecar::pathFor(shots.shot(id)->path));
        EXPECT_EQ(sidecar.open(QIODevice::ReadOnly) && sidecar.readAll().contains("\"Purple\""),
                  c.favourite)
            << c.note.toStdString();
    }
}

TEST_F(ShotsModelTest, theLastOfQuickMarksIsTheOneOnDisk) {
    async::ManualExecutor slow;  // the writes wait until the test lets them run
    ShotsModel model{rt, slow};
    const QUuid id = model.add(save(7), rt.clock().now());
    for (int stars = 1; stars <= 5; ++stars) model.mark(id, ShotMark{}.withStars(stars));
    model.mark(id, ShotMark{}.withStars(2));
    for (int turn = 0; turn < 20; ++turn) {
        while (slow.runOne()) {
        }
        rt.runReady();
    }
    EXPECT_EQ(XmpSidecar::read(model.shot(id)->path), (ShotMark{2, false}));
    EXPECT_EQ(model.shot(id)->mark, (ShotMark{2, false}));

    // A client's favourite taken back while stars were still being written stays taken back.
    model.setClientNote(id, true, {});
    model.mark(id, ShotMark{}.withStars(4));
    model.setClientNote(id, false, {});
    model.mark(id, ShotMark{}.withStars(1));
    for (int turn = 0; turn < 20; ++turn) {
        while (slow.runOne()) {
        }
        rt.runReady();
    }
    QFile sidecar(XmpSidecar::pathFor(model.shot(id)->path));
    ASSERT_TRUE(sidecar.open(QIODevice::ReadOnly));
    EXPECT_FALSE(sidecar.readAll().contains("Purple"));
    EXPECT_EQ(XmpSidecar::read(model.shot(id)->path), (ShotMark{1, false}));
}

TEST_F(ShotsModelTest, theShotShownHasItsHistogramAndClippingMarksWhenChosen) {
    const QUuid older = add(1);
    const QUuid newer = add(2);
    rt.runFor(async::Seconds(1));
    EXPECT_FALSE(shots.analysis().histogram);
    LiveAids aids;
    aids.histogram = true;
    aids.clipping = true;
    aids.peaking = true;  // live view's alone
    int told = 0;
    QObject::connect(&shots, &ShotsModel::analysisChanged, [&] { ++told; });
    shots.setAids(aids);
    rt.runFor(async::Seconds(1));
    ASSERT_TRUE(shots.analysis().histogram);
    const Shot* shown = shots.shown();
    ASSERT_EQ(shown->id, newer);
    // Every second pixel each way of the sharp picture.
    EXPECT_EQ(shots.analysis().histogram->pixels,
              static_cast<std::uint32_t>(((shown->thumbnail.width() + 1) / 2) *
                                         ((shown->thumbnail.height() + 1) / 2)));
    EXPECT_FALSE(shots.analysis().marks.isNull());
    EXPECT_EQ(shots.analysis().edgePixels, 0);

    // Another shot: the marks of the one before never lie over it.
    told = 0;
    shots.select(older);
    EXPECT_FALSE(shots.analysis().histogram);
    rt.runFor(async::Seconds(1));
    ASSERT_TRUE(shots.analysis().histogram);
    EXPECT_GE(told, 2);

    shots.setAids(LiveAids{});
    EXPECT_FALSE(shots.analysis().histogram);
    EXPECT_TRUE(shots.analysis().marks.isNull());
}

}  // namespace
}  // namespace pexil
