// The session's shots as the filmstrip's rows: new shots inserted at the top and shown, the
// row shown following the selection, pictures decoded on the queue given, and old shots
// keeping only a cell-sized copy. Qt's model tester checks every change against the
// item-model contract.
#include "app/shots/ShotsModel.h"
#include "camera/virtual/PictureFactory.h"
#include "kit/async/Executor.h"
#include "kit/async/VirtualRuntime.h"

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
    // A picture as a camera without an EXIF thumbnail saves it. Made by the virtual camera's
    // encoder rather than QImage::save, whose image plugin is loaded and unloaded in a way the
    // leak checker of this toolchain cannot scan.
    QString save(int number) {
        const QString path = QDir(folder.path()).filePath(QStringLiteral("DSC_%1.JPG").arg(number, 4, 10, QLatin1Char('0')));
        auto scene = factory.render(1800, 1200, 7, number);
        EXPECT_TRUE(scene.ok());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        const Bytes& jpeg = scene.value().picture;
        file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size()));
        return path;
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

}  // namespace
}  // namespace pexil
