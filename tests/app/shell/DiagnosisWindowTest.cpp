// The device doctor in the application: the diagnosis window's report and its copy, and a USB
// camera that will not open shown with the doctor's finding, its fix and "再試行".
#include "ShellHarness.h"

#include "app/doctor/CameraTrouble.h"
#include "app/shell/main/CameraStatusMenu.h"
#include "app/shell/main/CameraWaitView.h"
#include "app/shell/diagnosis/DiagnosisWindow.h"
#include "app/shell/main/MainWindow.h"
#include "support/FakeTransport.h"

#include <QClipboard>
#include <QPushButton>
#include <QTest>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

const DoctorFinding held = DoctorFinding::fail(
    QStringLiteral("holder"),
    QStringLiteral("NIKON DSC D850（バス 1、アドレス 5） を GVfs "
                   "のカメラのマウント（gvfsd-gphoto2） が使っている（PID 812）"),
    QStringLiteral("gio mount -s gphoto2"));

TEST(DiagnosisWindow, ShowsTheWholeReportCopiesItAndExaminesAgain) {
    int examined = 0;
    DiagnosisWindow window([&] {
        ++examined;
        return std::vector<DoctorFinding>{
            DoctorFinding::ok(QStringLiteral("usb"), QStringLiteral("run %1").arg(examined)), held};
    });
    EXPECT_EQ(window.windowTitle(), QStringLiteral("診断"));
    EXPECT_FALSE(window.copyButton()->isEnabled());
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return examined == 1; }));
    // In the program's words, the command on a line of its own; Enter closes the window.
    const QString first = QStringLiteral("【問題なし】usb: run 1\n【問題】holder: ") + held.text +
                          QStringLiteral("\n　直し方: gio mount -s gphoto2\n");
    EXPECT_EQ(window.report(), first);
    EXPECT_FALSE(window.copyButton()->isDefault());
    EXPECT_FALSE(window.copyButton()->autoDefault());
    ASSERT_TRUE(window.copyButton()->isEnabled());
    window.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), first);

    window.refreshButton()->click();
    EXPECT_EQ(examined, 2);
    EXPECT_TRUE(window.report().startsWith(QStringLiteral("【問題なし】usb: run 2\n")));
}

// A camera whose transport refuses to open, as a USB camera held by GVfs does.
std::shared_ptr<camera::CameraDevice> refusingCamera(ShellHarness& h) {
    return camera::CameraDevice::create(
        h.rt, QStringLiteral("NIKON DSC D850"), QStringLiteral("usb:1:5"), [] {
            auto transport = std::make_unique<pexil::testing::FakeTransport>(
                [](const camera::Operation&, std::optional<ByteView>,
                   camera::DataSink&) -> Result<camera::Response, TransportError> {
                    return TransportError{QStringLiteral("unexpected")};
                });
            transport->connectError =
                TransportError{QStringLiteral("カメラを別のプログラムが使っている")};
            return transport;
        });
}

TEST(CameraTroubleInWindow, ARefusedCameraShowsTheFindingItsFixAndRetry) {
    ShellHarness h{0};
    MainWindow window(*h.model);
    std::vector<DoctorFinding> findings{held};
    int examined = 0;
    CameraTrouble trouble([&] {
        ++examined;
        return findings;
    });
    window.setCameraTrouble(&trouble);
    window.show();
    EXPECT_FALSE(window.waitView()->showsFinding());

    h.source->add(refusingCamera(h));
    h.model->connection().connectCamera();
    ASSERT_TRUE(
        h.until([&] { return h.model->connection().state().is(ConnectionState::Kind::failed); }));
    QApplication::sendPostedEvents();
    EXPECT_EQ(examined, 1);
    EXPECT_EQ(window.centre(), MainWindow::Centre::waiting);
    ASSERT_TRUE(window.waitView()->showsFinding());
    EXPECT_EQ(window.waitView()->texts().mid(0, 2),
              (QStringList{QStringLiteral("カメラを開けません"), held.text}));
    EXPECT_EQ(window.waitView()->fixText(), held.fix);
    window.waitView()->copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), held.fix);

    const QStringList items = window.statusMenu()->itemTexts();
    EXPECT_TRUE(items.contains(held.text));
    EXPECT_TRUE(items.contains(held.fix));
    EXPECT_TRUE(items.contains(QStringLiteral("再試行")));
    QGuiApplication::clipboard()->clear();
    ASSERT_TRUE(window.statusMenu()->trigger(QStringLiteral("コマンドをコピー")));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), held.fix);

    // Retrying tries the camera again; once nothing stands in the way, the finding goes.
    findings.clear();
    ASSERT_TRUE(window.waitView()->retryButton()->isVisible());
    window.waitView()->retryButton()->click();
    ASSERT_TRUE(h.until([&] { return examined == 2; }));
    EXPECT_FALSE(window.waitView()->showsFinding());
    EXPECT_FALSE(window.statusMenu()->itemTexts().contains(QStringLiteral("再試行")));
    EXPECT_TRUE(window.waitView()->fixText().isEmpty());
}

}  // namespace
}  // namespace pexil::shell
