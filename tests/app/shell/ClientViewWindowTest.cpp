// The client view's window: turning the view on shows its address with a QR code, who is
// watching, and 終了 ends it.
#include "app/clientview/ClientView.h"
#include "app/shell/clientview/ClientViewWindow.h"
#include "app/shell/clientview/QrCode.h"
#include "app/shots/ShotsModel.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/async/WorkQueue.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace pexil::shell {
namespace {

TEST(ClientViewWindow, StartsOnTheChosenAddressShowsTheCodeAndEnds) {
    async::VirtualRuntime rt;
    async::InlineExecutor decode;
    ShotsModel shots(rt, decode);
    ClientView view(rt, shots);
    ClientViewWindow window(view);
    window.show();
    EXPECT_EQ(window.toggleButton()->text(), QStringLiteral("開始"));
    EXPECT_TRUE(window.urlText().isEmpty());
    EXPECT_FALSE(window.showsCode());

    // The loopback address is always offered, last.
    QComboBox* address = window.addressBox();
    ASSERT_GE(address->count(), 1);
    EXPECT_EQ(address->itemText(address->count() - 1), QStringLiteral("127.0.0.1"));
    address->setCurrentIndex(address->count() - 1);
    QTest::mouseClick(window.toggleButton(), Qt::LeftButton);
    ASSERT_TRUE(view.running());
    EXPECT_TRUE(window.urlText().startsWith(QStringLiteral("http://127.0.0.1:")));
    EXPECT_TRUE(window.urlText().contains(QStringLiteral("/?t=")));
    EXPECT_TRUE(window.showsCode());
    EXPECT_EQ(window.watchersText(), QStringLiteral("まだ誰も見ていません。"));
    EXPECT_EQ(window.toggleButton()->text(), QStringLiteral("終了"));
    EXPECT_FALSE(address->isEnabled());

    window.downloadsBox()->setChecked(true);
    QTest::mouseClick(window.toggleButton(), Qt::LeftButton);
    EXPECT_FALSE(view.running());
    EXPECT_TRUE(window.urlText().isEmpty());
    EXPECT_EQ(window.toggleButton()->text(), QStringLiteral("開始"));
    EXPECT_TRUE(window.problemText().isEmpty());
}

TEST(QrCode, HasTheQuietZoneAndGrowsWithTheText) {
    const QImage small = qrCodeImage(QStringLiteral("http://192.168.1.20:8080/?t=abc"), 1);
    ASSERT_FALSE(small.isNull());
    // Version 3 (29 modules) plus four light modules on every side; the corner is light and
    // the finder pattern's corner dark.
    EXPECT_EQ(small.width(), 29 + 8);
    EXPECT_EQ(small.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(small.pixelColor(4, 4), QColor(Qt::black));
    const QImage large =
        qrCodeImage(QStringLiteral("http://192.168.1.20:8080/?t=") + QString(43, u'A'), 3);
    EXPECT_GT(large.width(), small.width() * 3);
    EXPECT_EQ(large.width() % 3, 0);
    EXPECT_TRUE(qrCodeImage(QString(4000, u'x'), 2).isNull());
}

}  // namespace
}  // namespace pexil::shell
