// The main window on the demo's wiring: a virtual Nikon through the real camera service, the
// session model on the virtual clock, the window offscreen.
#include "ShellHarness.h"

#include "app/backup/BackupModel.h"
#include "app/base/PreferencesModel.h"
#include "app/card/CardModel.h"
#include "app/liveview/LiveViewModel.h"
#include "app/shell/main/BackupStrip.h"
#include "app/shell/main/BatteryIcon.h"
#include "app/shell/main/CameraMenu.h"
#include "app/shell/main/CameraStatusMenu.h"
#include "app/shell/main/CameraWaitView.h"
#include "app/shell/main/Filmstrip.h"
#include "app/shell/main/IncomingCell.h"
#include "app/shell/main/InfoRow.h"
#include "app/shell/main/Inspector.h"
#include "app/shell/main/MainWindow.h"
#include "app/shell/main/PreviewPane.h"
#include "app/shell/main/PreviewZoom.h"
#include "app/shell/main/SeriesActions.h"
#include "app/shell/main/WarningStrip.h"
#include "app/shell/main/ZoomControls.h"
#include "app/shots/XmpSidecar.h"
#include "kit/device/ExposureLayout.h"
#include "kit/ptp/PTP.h"
#include "ui/components/GlassButton.h"
#include "ui/components/SegmentedControl.h"
#include "ui/scrubber/ScrubberControl.h"
#include "ui/theme/Theme.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QMenuBar>
#include <QMessageBox>
#include <QShortcut>
#include <QTest>
#include <QToolButton>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() : window(*h.model) {
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~MainWindowTest() override {
        if (HasFailure()) window.grab().save(QStringLiteral("MainWindowTest-failure.png"));
    }

    bool enabled(CameraCommand command) const { return window.cameraMenu()->action(command)->isEnabled(); }
    QString status() const { return window.statusMenu()->text(); }
    std::size_t shotCount() const { return h.model->shots().list().size(); }
    bool shotsReady(std::size_t count) const {
        return shotCount() == count && !h.model->shots().list().front().thumbnail.isNull() &&
               !h.model->capture().busy();
    }

    ShellHarness h;
    MainWindow window;
};

TEST_F(MainWindowTest, beforeConnectingTheWindowSaysNoCameraAndOffersConnect) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Pexil"));
    EXPECT_GE(window.minimumWidth(), 940);
    EXPECT_GE(window.minimumHeight(), 640);
    EXPECT_EQ(status(), QStringLiteral("未接続"));
    EXPECT_EQ(window.statusMenu()->itemTexts(), (QStringList{QStringLiteral("未接続"), QStringLiteral("接続")}));
    EXPECT_TRUE(enabled(CameraCommand::connect));
    EXPECT_FALSE(enabled(CameraCommand::disconnect));
    EXPECT_FALSE(enabled(CameraCommand::shoot));
    EXPECT_TRUE(enabled(CameraCommand::openDestination));
    EXPECT_TRUE(enabled(CameraCommand::geotag));
    EXPECT_FALSE(window.spaceEnabled());
    EXPECT_FALSE(window.liveViewButton()->isEnabled());
    EXPECT_EQ(window.preview()->emptyText(), QStringLiteral("カメラを USB で接続してください"));
    EXPECT_EQ(window.inspector()->placeholder(), QStringLiteral("カメラをつなぐと、ここで露出や画質を変えられます。"));
    EXPECT_FALSE(window.warningStrip()->isVisibleTo(&window));
}

// A key given to two actions is ambiguous and Qt runs neither: every key has one owner, and
// the keyboard's way to each place works.
TEST_F(MainWindowTest, everyKeyHasOneOwnerAndTheGeotagKeyOpensTheWindow) {
    std::map<QString, QAction*> owners;
    for (QAction* action : window.findChildren<QAction*>()) {
        for (const QKeySequence& key : action->shortcuts()) {
            const auto [it, added] = owners.emplace(key.toString(), action);
            EXPECT_TRUE(added) << key.toString().toStdString() << ": " << it->second->text().toStdString()
                               << " / " << action->text().toStdString();
        }
    }
    for (QShortcut* shortcut : window.findChildren<QShortcut*>())
        EXPECT_FALSE(owners.count(shortcut->key().toString())) << shortcut->key().toString().toStdString();
    int requested = 0;
    QObject::connect(&window, &MainWindow::geotagRequested, [&] { ++requested; });
    QTest::keyClick(&window, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(requested, 1);
}

TEST_F(MainWindowTest, connectingShowsTheCameraItsSettingsAndItsCommands) {
    h.plug();
    h.model->connection().connectCamera();
    // Searching: the waiting view and a menu that stops the wait.
    ASSERT_TRUE(h.until(
        [&] { return !h.model->connection().state().is(ConnectionState::Kind::disconnected); }));
    ASSERT_TRUE(h.until([&] {
        return h.model->connection().state().is(ConnectionState::Kind::connected) &&
               !h.model->settings().props().empty();
    }));

    const QString name = *h.model->connection().state().text;
    EXPECT_EQ(status(), name);
    EXPECT_EQ(window.inspector()->title(), name);
    EXPECT_EQ(window.inspector()->placeholder(), QString());
    EXPECT_EQ(window.centre(), MainWindow::Centre::preview);
    EXPECT_EQ(window.preview()->emptyText(), QStringLiteral("カメラのシャッターを押すと、ここに表示されます"));
    for (const CameraCommand command : allCameraCommands)
        EXPECT_EQ(enabled(command), command != CameraCommand::connect) << int(command);
    EXPECT_TRUE(window.spaceEnabled());
    EXPECT_TRUE(window.liveViewButton()->isEnabled());

    const QStringList items = window.statusMenu()->itemTexts();
    EXPECT_TRUE(items.contains(QStringLiteral("時計を PC に合わせる"))) << items.join(u'|').toStdString();
    EXPECT_TRUE(items.contains(QStringLiteral("本体の操作を戻す")));
    EXPECT_TRUE(std::any_of(items.begin(), items.end(), [](const QString& t) { return t.startsWith(QStringLiteral("カメラの電池 ")); }));

    // One dial per adjustable exposure value, each showing the camera's value.
    const auto adjustable = ExposureLayout::adjustable(h.model->settings().props());
    ASSERT_FALSE(adjustable.empty());
    for (const PTP::Prop prop : adjustable) {
        ui::ScrubberControl* dial = window.inspector()->scrubber(prop);
        ASSERT_NE(dial, nullptr) << PTP::label(prop).toStdString();
        EXPECT_EQ(dial->selection(), h.model->settings().text(prop));
        EXPECT_EQ(dial->title(), PTP::label(prop));
        EXPECT_TRUE(dial->isEnabled());
    }
    ASSERT_TRUE(h.model->settings().batteryPercent());
    EXPECT_TRUE(window.inspector()->battery()->isVisibleTo(&window));
    EXPECT_EQ(window.inspector()->battery()->colour(),
              *h.model->settings().batteryPercent() > 20 ? ui::Theme::dim() : ui::Theme::danger());
}

TEST_F(MainWindowTest, spaceAndCtrlTFireTheShutterAndTheShotLeadsTheFilmstrip) {
    ASSERT_TRUE(h.connectAndWait());
    QTest::keyClick(&window, Qt::Key_Space);
    ASSERT_TRUE(h.until([&] { return shotsReady(1); }));

    const Shot first = h.model->shots().list().front();  // a copy: the list grows below
    QAbstractItemModel* strip = window.filmstrip()->view()->model();
    ASSERT_EQ(strip->rowCount(), 1);
    EXPECT_EQ(strip->index(0, 0).data(ShotsModel::IdRole).toUuid(), first.id);
    EXPECT_TRUE(strip->index(0, 0).data(ShotsModel::SelectedRole).toBool());
    EXPECT_EQ(window.filmstrip()->countText(), QStringLiteral("1 枚"));
    EXPECT_FALSE(window.preview()->image().isNull());
    EXPECT_TRUE(window.infoRow()->shownTexts().contains(QFileInfo(first.path).fileName()));
    EXPECT_TRUE(window.infoRow()->shownTexts().contains(QStringLiteral("フォルダで表示")));
    EXPECT_TRUE(QFile::exists(first.path));

    // From the moment the newer shot is selected the pane shows it, never the older shot's
    // preview under the newer shot's name.
    ASSERT_TRUE(h.until([&] {
        return h.model->shots().fullPreviewID() == first.id &&
               !h.model->shots().fullPreview().isNull();
    }));
    const qint64 olderPreview = h.model->shots().fullPreview().cacheKey();
    int stale = 0;
    auto sample = [&] {
        if (h.model->shots().selection() != first.id &&
            window.preview()->image().cacheKey() == olderPreview)
            ++stale;
    };
    QObject::connect(&h.model->shots(), &ShotsModel::selectionChanged, &window, sample);
    QObject::connect(&h.model->shots(), &ShotsModel::shotUpdated, &window, sample);
    QObject::connect(&h.model->shots(), &ShotsModel::fullPreviewChanged, &window, sample);
    QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(h.until([&] { return shotsReady(2); }));
    EXPECT_EQ(stale, 0);
    ASSERT_EQ(strip->rowCount(), 2);
    EXPECT_EQ(strip->index(0, 0).data(ShotsModel::IdRole).toUuid(),
              h.model->shots().list().front().id);
    EXPECT_TRUE(strip->index(0, 0).data(ShotsModel::SelectedRole).toBool());
    EXPECT_FALSE(strip->index(1, 0).data(ShotsModel::SelectedRole).toBool());

    // Clicking the older shot shows it.
    h.model->shots().select(first.id);
    EXPECT_TRUE(strip->index(1, 0).data(ShotsModel::SelectedRole).toBool());
    EXPECT_TRUE(window.infoRow()->shownTexts().contains(QFileInfo(first.path).fileName()));

    // Zoomed into it, the next shot waits in the strip with a mark and the view stays.
    window.zoom().actualSize();
    QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(h.until([&] { return shotsReady(3); }));
    EXPECT_EQ(h.model->shots().selection(), first.id);
    EXPECT_TRUE(strip->index(0, 0).data(ShotsModel::NewRole).toBool());
    EXPECT_EQ(window.filmstrip()->countText(), QStringLiteral("3 枚（新着 1）"));
    EXPECT_TRUE(window.infoRow()->shownTexts().contains(QFileInfo(first.path).fileName()));
}

TEST_F(MainWindowTest, theMarkingKeysMarkTheShotShownAndTheFilterHidesTheRejects) {
    ASSERT_TRUE(h.connectAndWait());
    for (std::size_t n = 1; n <= 2; ++n) {
        QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier);
        ASSERT_TRUE(h.until([&] { return shotsReady(n); }));
    }
    QListView* view = window.filmstrip()->view();
    view->setFocus();
    const QUuid newest = h.model->shots().list().front().id;
    const QUuid older = h.model->shots().list().back().id;
    QTest::keyClick(view, Qt::Key_4);
    QTest::keyClick(view, Qt::Key_P);
    EXPECT_EQ(h.model->shots().shot(newest)->mark, (ShotMark{4, true}));

    h.model->shots().select(older);
    window.preview()->setFocus();
    QTest::keyClick(window.preview(), Qt::Key_X);
    EXPECT_TRUE(h.model->shots().shot(older)->mark.rejected());
    ASSERT_TRUE(h.until([&] {
        return XmpSidecar::read(h.model->shots().shot(older)->path) == ShotMark{-1, false};
    }));

    ui::SegmentedControl* filter = window.filmstrip()->filterChoice();
    filter->segment(2)->click();  // 不採用以外
    EXPECT_EQ(view->model()->rowCount(), 1);
    EXPECT_EQ(view->model()->index(0, 0).data(ShotsModel::IdRole).toUuid(), newest);
    EXPECT_EQ(window.filmstrip()->countText(), QStringLiteral("1 / 2 枚"));
    filter->segment(0)->click();
    EXPECT_EQ(view->model()->rowCount(), 2);
}

TEST_F(MainWindowTest, aTimedSeriesFromTheCameraMenuShowsItsProgressInTheFilmstrip) {
    SeriesActions* series = window.seriesActions();
    EXPECT_FALSE(series->startAction()->isEnabled());
    ASSERT_TRUE(h.connectAndWait());
    EXPECT_TRUE(series->startAction()->isEnabled());
    EXPECT_TRUE(window.cameraMenu()->QWidget::actions().contains(series->startAction()));
    EXPECT_FALSE(series->stopAction()->isEnabled());
    series->series().start({5, 2, 0});
    ASSERT_TRUE(h.until([&] { return series->series().taken() == 1; }));
    EXPECT_TRUE(series->stopAction()->isEnabled());
    EXPECT_FALSE(series->startAction()->isEnabled());
    EXPECT_TRUE(
        window.filmstrip()->seriesText().startsWith(QStringLiteral("インターバル撮影 1 / 2 枚")))
        << window.filmstrip()->seriesText().toStdString();
    ASSERT_TRUE(h.until([&] { return !series->series().running(); }));
    EXPECT_EQ(window.filmstrip()->seriesText(),
              QStringLiteral("インターバル撮影: 2 枚撮りました。"));
    EXPECT_TRUE(h.until([&] { return shotsReady(2); }));

    // The demo body is in manual exposure: the bracket moves its shutter and puts it back.
    const PTP::Prop shutterProp = ExposureLayout::shutter(h.model->settings().props());
    const QString shutter = h.model->settings().text(shutterProp);
    series->bracket().start({3, 1});
    ASSERT_TRUE(h.until([&] { return series->bracket().running(); }));
    EXPECT_FALSE(series->startAction()->isEnabled());
    EXPECT_FALSE(series->bracketAction()->isEnabled());
    EXPECT_EQ(series->stopAction()->text(), QStringLiteral("ブラケット撮影を止める"));
    ASSERT_TRUE(h.until([&] { return !series->bracket().running(); }));
    EXPECT_EQ(window.filmstrip()->seriesText(),
              QStringLiteral("ブラケット撮影: 3 枚撮りました（1 EV 刻み）。"));
    EXPECT_EQ(h.model->settings().text(shutterProp), shutter);
    EXPECT_TRUE(series->bracketAction()->isEnabled());
    EXPECT_TRUE(h.until([&] { return shotsReady(5); }));
}

TEST_F(MainWindowTest, aPictureOnItsWayHasACellInTheFilmstripAndThePaneSaysItIsComing) {
    ASSERT_TRUE(h.connectAndWait());
    QStringList paneTexts, cellTexts;
    QObject::connect(&h.model->capture(), &CaptureModel::incomingChanged, &window, [&] {
        if (!h.model->capture().incoming()) return;
        paneTexts << window.preview()->emptyText();
        if (window.filmstrip()->incomingCell()->isVisibleTo(&window))
            cellTexts << window.filmstrip()->incomingCell()->text();
        if (qEnvironmentVariableIsSet("PEXIL_GRAB"))
            window.grab().save(qEnvironmentVariable("PEXIL_GRAB"));
    });
    h.model->capture().shoot();
    ASSERT_TRUE(h.until([&] { return shotCount() == 1 && !h.model->capture().busy(); }));
    ASSERT_FALSE(paneTexts.isEmpty());
    EXPECT_EQ(paneTexts.front(), QStringLiteral("写真を待っています…"));
    EXPECT_TRUE(paneTexts.back().startsWith(QStringLiteral("DSC_0004.JPG を受け取っています…")))
        << paneTexts.join(u'|').toStdString();
    EXPECT_EQ(cellTexts, paneTexts);
    // Saved: the cell goes, the shot is the newest cell.
    EXPECT_FALSE(window.filmstrip()->incomingCell()->isVisibleTo(&window));
    EXPECT_EQ(window.filmstrip()->view()->model()->rowCount(), 1);
}

// Behind the card browser a shot or live view would happen where nobody sees it.
TEST_F(MainWindowTest, spaceAndLiveViewAreOffWhileTheCardIsShown) {
    ASSERT_TRUE(h.connectAndWait());
    h.model->card().setActive(true);
    EXPECT_FALSE(window.spaceEnabled());
    EXPECT_FALSE(window.liveViewButton()->isEnabled());
    EXPECT_FALSE(window.cameraMenu()->action(CameraCommand::liveView)->isEnabled());
    EXPECT_TRUE(window.cameraMenu()->action(CameraCommand::shoot)->isEnabled());  // asked for by name
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_FALSE(h.model->capture().busy());  // a press would have made it busy at once

    h.model->card().setActive(false);
    EXPECT_TRUE(window.spaceEnabled());
    EXPECT_TRUE(window.liveViewButton()->isEnabled());
    EXPECT_TRUE(window.cameraMenu()->action(CameraCommand::liveView)->isEnabled());
}

TEST_F(MainWindowTest, zoomKeysMenusWithMnemonicsAndNoPercentWithoutAPicture) {
    QStringList titles;
    for (QAction* menu : window.menuBar()->actions()) titles << menu->text();
    EXPECT_EQ(titles, (QStringList{"ファイル(&F)", "カメラ(&C)", "表示(&V)", "ウィンドウ(&W)", "ヘルプ(&H)"}));
    EXPECT_EQ(window.infoRow()->zoomControls()->percentText(), QString());

    ASSERT_TRUE(h.connectAndWait());
    h.model->capture().shoot();
    ASSERT_TRUE(h.until([&] { return shotsReady(1) && !window.preview()->image().isNull(); }));
    PreviewZoom& zoom = window.zoom();
    ASSERT_GT(zoom.fit(), 0);
    EXPECT_FALSE(window.infoRow()->zoomControls()->percentText().isEmpty());
    QTest::keyClick(&window, Qt::Key_1, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(zoom.targetZoom(), PreviewZoom::actualSizeTarget(zoom.fit()));
    QTest::keyClick(&window, Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(zoom.targetZoom(), 1.0);
    QTest::keyClick(&window, Qt::Key_Equal, Qt::ControlModifier);
    const double in = zoom.targetZoom();
    EXPECT_GT(in, 1.0);
    QTest::keyClick(&window, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_LT(zoom.targetZoom(), in);
}

// From the keyboard alone: the strip takes the focus and the arrows show shot after shot.
TEST_F(MainWindowTest, theArrowsStepThroughTheFilmstrip) {
    ASSERT_TRUE(h.connectAndWait());
    for (std::size_t n = 1; n <= 3; ++n) {
        h.model->capture().shoot();
        ASSERT_TRUE(h.until([&] { return shotsReady(n); }));
    }
    const auto ids = [&] {
        std::vector<QUuid> out;
        for (const Shot& shot : h.model->shots().list()) out.push_back(shot.id);
        return out;
    }();  // newest first
    QListView* strip = window.filmstrip()->view();
    EXPECT_EQ(strip->focusPolicy(), Qt::StrongFocus);
    strip->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return strip->hasFocus(); }));
    EXPECT_EQ(strip->currentIndex().row(), 0);  // where the newest shot is shown
    QTest::keyClick(strip, Qt::Key_Right);
    EXPECT_EQ(h.model->shots().selection(), ids[1]);
    QTest::keyClick(strip, Qt::Key_Right);
    EXPECT_EQ(h.model->shots().selection(), ids[2]);
    QTest::keyClick(strip, Qt::Key_Home);
    EXPECT_EQ(h.model->shots().selection(), ids[0]);
    // The strip is the tether view: Space there is still the shutter.
    QTest::keyClick(strip, Qt::Key_Space);
    EXPECT_TRUE(h.model->capture().busy());
    ASSERT_TRUE(h.until([&] { return shotsReady(4); }));
}

TEST_F(MainWindowTest, spaceDoesNothingWithoutACamera) {
    QTest::keyClick(&window, Qt::Key_Space);
    h.rt.runFor(async::Seconds(2));
    EXPECT_EQ(shotCount(), 0u);
    EXPECT_EQ(h.vcam->callCount(static_cast<std::uint16_t>(PTP::Op::initiateCapture)), 0);
}

TEST_F(MainWindowTest, aScrubberStepWritesTheCameraAndShowsWhatItTook) {
    ASSERT_TRUE(h.connectAndWait());
    const PTP::Prop prop = ExposureLayout::adjustable(h.model->settings().props()).front();
    ui::ScrubberControl* dial = window.inspector()->scrubber(prop);
    ASSERT_NE(dial, nullptr);
    const QStringList options = dial->options();
    const int from = dial->baseIndex();
    const int step = from + 1 < options.size() ? 1 : -1;
    const QString wanted = options[from + step];
    dial->step(step);
    ASSERT_TRUE(h.until([&] { return h.model->settings().text(prop) == wanted; }));
    // The model's text is the camera's re-read descriptor; the dial follows it.
    EXPECT_EQ(dial->selection(), wanted);
    EXPECT_FALSE(h.model->lastError());
}

TEST_F(MainWindowTest, liveViewShowsFramesWithLiveAndTheRate) {
    ASSERT_TRUE(h.connectAndWait());
    const LiveViewModel& live = h.model->liveView();
    window.liveViewButton()->click();
    ASSERT_TRUE(h.waitFor([&] {
        return live.isLive() && live.fps() >= 1 && !live.frame().isNull();
    })) << "fps "
        << live.fps() << " frame " << live.frame().isNull();
    const QStringList texts = window.infoRow()->shownTexts();
    EXPECT_EQ(texts.value(0), QStringLiteral("LIVE"));
    EXPECT_EQ(texts.value(1), QString::number(live.fps()) + QStringLiteral(" fps"));
    EXPECT_EQ(window.preview()->image(), live.frame());
    EXPECT_EQ(window.cameraMenu()->action(CameraCommand::liveView)->text(), QStringLiteral("ライブビューを止める"));
    EXPECT_EQ(window.liveViewButton()->tint(), ui::Theme::amber());

    window.cameraMenu()->action(CameraCommand::liveView)->trigger();
    ASSERT_TRUE(h.waitFor([&] { return !live.isLive(); }));
    EXPECT_FALSE(window.infoRow()->shownTexts().contains(QStringLiteral("LIVE")));
    EXPECT_EQ(window.cameraMenu()->action(CameraCommand::liveView)->text(), QStringLiteral("ライブビューを開始"));
}

TEST_F(MainWindowTest, inLiveViewAClickMovesTheAfAreaAndTheAidsFollowTheirKeys) {
    ASSERT_TRUE(h.connectAndWait());
    LiveViewModel& live = h.model->liveView();
    window.liveViewButton()->click();
    ASSERT_TRUE(
        h.waitFor([&] { return live.isLive() && live.afArea() && !live.frame().isNull(); }));
    PreviewPane* pane = window.preview();
    const QRectF picture = PreviewPane::pictureRect(pane->size(), pane->pictureSize(), 1, {});
    const QPointF aim(0.25, 0.75);
    QTest::mouseClick(
        pane, Qt::LeftButton, {},
        (picture.topLeft() + QPointF(picture.width() * aim.x(), picture.height() * aim.y()))
            .toPoint());
    ASSERT_TRUE(h.waitFor([&] { return live.afArea() && live.afArea()->center().x() < 0.3; }));
    EXPECT_NEAR(live.afArea()->center().x(), aim.x(), 0.02);
    EXPECT_NEAR(live.afArea()->center().y(), aim.y(), 0.02);

    // Without the body's own zoom the magnifier shows the frame's pixels at 100 % and 200 %
    // around the AF area (those that enlarge the frame in this pane), then fits again.
    PreviewZoom& zoom = window.zoom();
    std::vector<double> steps;
    for (const double pixels : {1.0, 2.0})
        if (pixels / zoom.fit() > PreviewZoom::fitThreshold) steps.push_back(pixels);
    ASSERT_FALSE(steps.empty());
    for (const double pixels : steps) {
        pane->magnifyAfArea();
        EXPECT_NEAR(zoom.targetZoom() * zoom.fit(), pixels, 1e-9);
    }
    pane->magnifyAfArea();
    EXPECT_EQ(zoom.targetZoom(), 1);

    // The aids answer their keys, are remembered, and are worked out for the frames shown.
    QTest::keyClick(&window, Qt::Key_P, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_H, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_G, Qt::ShiftModifier);
    EXPECT_TRUE(live.aids().peaking);
    EXPECT_EQ(live.aids().guide, LiveAids::Guide::thirds);
    EXPECT_EQ(LiveAids::read(h.model->preferences().store()), live.aids());
    ASSERT_TRUE(
        h.waitFor([&] { return !live.analysis().marks.isNull() && live.analysis().histogram; }));
    QTest::keyClick(&window, Qt::Key_P, Qt::ShiftModifier);
    EXPECT_FALSE(live.aids().peaking);

    // The focus drive: the lens moves with the bracket keys.
    const int lens = h.vcam->lensFocus();
    QTest::keyClick(&window, Qt::Key_BracketRight, Qt::ControlModifier);
    ASSERT_TRUE(
        h.waitFor([&] { return h.vcam->lensFocus() == lens + LiveViewModel::focusSteps[1]; }));
    window.cameraMenu()->action(CameraCommand::liveView)->trigger();
    ASSERT_TRUE(h.waitFor([&] { return !live.isLive(); }));
}

TEST_F(MainWindowTest, unpluggingReturnsToTheWaitingView) {
    ASSERT_TRUE(h.connectAndWait());
    h.unplug();
    ASSERT_TRUE(
        h.until([&] { return h.model->connection().state().is(ConnectionState::Kind::waiting); }));
    EXPECT_EQ(window.centre(), MainWindow::Centre::waiting);
    const QStringList texts = window.waitView()->texts();
    EXPECT_EQ(texts.value(0), QStringLiteral("カメラを待っています"));
    EXPECT_EQ(texts.value(1), QStringLiteral("USB でつないで、カメラの電源を入れてください。見つかると自動でつながります"));
    EXPECT_EQ(status(), QStringLiteral("カメラを待っています"));
    EXPECT_TRUE(window.statusMenu()->itemTexts().contains(QStringLiteral("待つのをやめる")));
    EXPECT_FALSE(enabled(CameraCommand::shoot));
    EXPECT_TRUE(enabled(CameraCommand::disconnect));
    EXPECT_FALSE(window.spaceEnabled());
    EXPECT_EQ(window.inspector()->placeholder(), QStringLiteral("カメラをつなぐと、ここで露出や画質を変えられます。"));
    // The loss is said where the pictures are, with what happens next.
    EXPECT_TRUE(window.warningStrip()->isVisibleTo(&window));
    EXPECT_TRUE(window.warningStrip()->text().startsWith(QStringLiteral("カメラとの接続が切れました（")))
        << window.warningStrip()->text().toStdString();
    EXPECT_TRUE(window.warningStrip()->text().endsWith(QStringLiteral("カメラが戻ると自動でつながります")));

    // Stopping the wait leaves the camera unconnected, with "接続" offered again.
    ASSERT_TRUE(window.statusMenu()->trigger(QStringLiteral("待つのをやめる")));
    ASSERT_TRUE(
        h.until([&] { return !h.model->connection().state().is(ConnectionState::Kind::waiting); }));
    EXPECT_TRUE(enabled(CameraCommand::connect));
    EXPECT_FALSE(enabled(CameraCommand::disconnect));
}

TEST_F(MainWindowTest, aFailedTransferShowsTheWarningStripWithTheFileName) {
    ASSERT_TRUE(h.connectAndWait());
    h.vcam->refuse(static_cast<std::uint16_t>(PTP::Op::getObject), 0x2002);
    window.cameraMenu()->action(CameraCommand::shoot)->trigger();
    ASSERT_TRUE(h.until([&] { return !h.model->destination().failedTransfers().isEmpty(); }));
    EXPECT_TRUE(window.warningStrip()->isVisibleTo(&window));
    const QString name = h.model->destination().failedTransfers().front();
    EXPECT_TRUE(window.warningStrip()->text().contains(name)) << window.warningStrip()->text().toStdString();
    EXPECT_TRUE(
        window.warningStrip()->text().startsWith(QStringLiteral("転送できなかったコマ: ")) ||
        h.model->destination().problem());
}

TEST_F(MainWindowTest, aMissingBackupDiskHasAStripOfItsOwnWhoseButtonCopiesAgain) {
    const QString backup = h.dir.filePath(QStringLiteral("backup"));
    h.model->preferences().setBackupFolder(backup);
    ASSERT_TRUE(h.connectAndWait());
    EXPECT_TRUE(window.backupStrip()->isVisibleTo(&window));
    EXPECT_FALSE(window.warningStrip()->isVisibleTo(&window));
    window.cameraMenu()->action(CameraCommand::shoot)->trigger();
    ASSERT_TRUE(h.until([&] { return !h.model->backup().missing().isEmpty(); }));
    const QString name = h.model->backup().missing().front();
    EXPECT_TRUE(
        window.backupStrip()->text().startsWith(QStringLiteral("控えのない写真 1 枚: ") + name))
        << window.backupStrip()->text().toStdString();
    EXPECT_TRUE(QFileInfo::exists(h.model->shots().list().front().path));

    // The disk is back: the button copies what is missing and the strip goes.
    ASSERT_TRUE(QDir().mkpath(backup));
    window.backupStrip()->actionButton()->click();
    ASSERT_TRUE(h.until([&] { return !window.backupStrip()->isVisibleTo(&window); }));
    EXPECT_TRUE(QFileInfo::exists(QDir(backup).filePath(name)));
}

TEST_F(MainWindowTest, theErrorAlertFollowsLastErrorAndDismissingClearsIt) {
    ASSERT_TRUE(h.connectAndWait());
    const PTP::Prop prop = ExposureLayout::adjustable(h.model->settings().props()).front();
    h.vcam->refuse(static_cast<std::uint16_t>(PTP::Op::setDevicePropValue), 0x2002);
    window.inspector()->scrubber(prop)->step(1);
    ASSERT_TRUE(h.until([&] { return h.model->lastError().has_value(); }));
    QMessageBox* alert = window.alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->windowTitle(), QStringLiteral("エラー"));
    EXPECT_EQ(alert->text(), *h.model->lastError());
    EXPECT_TRUE(alert->isVisible());
    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(h.model->lastError());
    EXPECT_EQ(window.alert(), nullptr);
}

TEST_F(MainWindowTest, openDestinationReportsAFolderThatCannotBeMade) {
    // A file where the destination's parent folder should be: the folder cannot be created.
    QFile blocker(h.dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = h.dir.filePath(QStringLiteral("blocker/Pexil"));
    h.model->preferences().setBaseDestination(folder);
    window.cameraMenu()->action(CameraCommand::openDestination)->trigger();
    ASSERT_NE(window.alert(), nullptr);
    EXPECT_EQ(window.alertText(), QStringLiteral("保存先を作成できません: ") + folder);
    window.alert()->button(QMessageBox::Ok)->click();
    EXPECT_EQ(window.alert(), nullptr);
    // The destination problem is on the strip as well, with a way to the settings.
    EXPECT_TRUE(window.warningStrip()->isVisibleTo(&window));
    EXPECT_TRUE(window.warningStrip()->actionButton()->isVisibleTo(&window));
}

}  // namespace
}  // namespace pexil::shell
