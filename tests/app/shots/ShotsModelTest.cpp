// The session's shots as the filmstrip's rows: new shots inserted at the top and shown, the
// row shown following the selection, pictures decoded on the queue given, and old shots
// keeping only a cell-sized copy. Qt's model tester checks every change against the
// item-model contract.
#include "app/shots/ShotsModel.h"
#include "kit/async/Executor.h"
#include "kit/async/VirtualRuntime.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace pexil {
namespace {

class ShotsModelTest : public ::testing::Test {
protected:
    // A picture as a camera without an EXIF thumbnail saves it.
    QString save(int number) {
        const QString path = QDir(folder.path()).filePath(QStringLiteral("DSC_%1.JPG").arg(number, 4, 10, QLatin1Char('0')));
        QImage picture(1800, 1200, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(number * 40 % 360, 200, 200));
        EXPECT_TRUE(picture.save(path, "JPEG"));
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

}  // namespace
}  // namespace pexil
