// Focusing from the live picture, on the virtual D850 through the whole session.
#include "app/liveview/FocusStack.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/SessionHarness.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

using testing::SessionHarness;
using Direction = PTPCamera::FocusDirection;

class LiveFocus : public ::testing::Test {
protected:
    LiveViewModel& live() { return h.model->liveView(); }

    void startLiveView() {
        h.connectReady();
        live().toggle();
        ASSERT_TRUE(h.settle([&] { return live().isLive() && live().header().has_value(); }));
    }
    // Runs one of the model's focusing tasks to its end: none or the user's text.
    std::optional<QString> finish(async::Task<std::optional<QString>> task) {
        std::optional<std::optional<QString>> result;
        auto run = [](async::Task<std::optional<QString>> t,
                      std::optional<std::optional<QString>>* out) -> async::Task<void> {
            auto answer = co_await std::move(t);
            *out = std::move(answer);
        };
        async::Scope scope(h.rt.runtime());
        scope.spawn(run(std::move(task), &result));
        EXPECT_TRUE(h.settle([&] { return result.has_value(); })) << "did not finish";
        return result.value_or(QStringLiteral("did not finish"));
    }
    // Waits until frames newer than now came, so what is shown follows what was done.
    void freshFrames(int n = 3) {
        int seen = 0;
        auto counting = QObject::connect(&live(), &LiveViewModel::frameChanged, [&] { ++seen; });
        EXPECT_TRUE(h.settle([&] { return seen >= n; }));
        QObject::disconnect(counting);
    }

    // A stack whose shots are the session's, as the window and pexilctl make it.
    std::unique_ptr<FocusStack> makeStack() {
        return std::make_unique<FocusStack>(
            live(), [this] { return h.model->capture().shootAndWait(false); },
            [this] { return live().autofocus(); });
    }
    QString runStack(FocusStack& stack, FocusStack::Plan plan) {
        std::optional<QString> summary;
        QObject::connect(&stack, &FocusStack::finished, [&](const QString& s) { summary = s; });
        stack.start(plan);
        EXPECT_TRUE(h.settle([&] { return summary.has_value(); }, 120)) << "the stack did not end";
        return summary.value_or(QString());
    }

    SessionHarness h;
};

TEST_F(LiveFocus, AClickPlacesTheAfAreaThroughATurnedAndZoomedPicture) {
    startLiveView();
    ASSERT_TRUE(live().canMoveAfArea());
    ASSERT_TRUE(live().afArea());
    EXPECT_NEAR(live().afArea()->center().x(), 0.5, 0.01);  // the body starts in the middle

    struct Case {
        const char* name;
        LiveViewRotation rotation;
        QSize display;
        QPoint centre;
        QPointF click;
        QPoint whole;   // where the body's AF area then is
        QSize picture;  // the picture shown, turned upright
    };
    const Case cases[] = {
        {"level", LiveViewRotation::level, {}, {}, {0.25, 0.75}, {1600, 3180}, {640, 424}},
        // The top left of a picture turned right is the JPEG's bottom left; the body's zoom
        // shows the middle quarter of the whole area.
        {"turned and zoomed",
         LiveViewRotation::turnRight,
         {3200, 2120},
         {3200, 2120},
         {0.25, 0.5},
         {3200, 2650},
         {424, 640}},
        // Near the corner, the body keeps the area whole inside the picture.
        {"corner", LiveViewRotation::level, {}, {}, {0.0, 0.0}, {320, 212}, {640, 424}},
    };
    for (const Case& c : cases) {
        h.camera->setLiveViewFraming(c.rotation, c.display, c.centre);
        freshFrames();
        EXPECT_EQ(finish(live().moveAfArea(c.click)), std::nullopt) << c.name;
        freshFrames();
        ASSERT_TRUE(live().header()) << c.name;
        EXPECT_EQ(live().header()->afCentre, c.whole) << c.name;
        EXPECT_EQ(live().frame().size(), c.picture) << c.name;
        if (c.whole != QPoint(320, 212)) {
            EXPECT_NEAR(live().afArea()->center().x(), c.click.x(), 0.01) << c.name;
            EXPECT_NEAR(live().afArea()->center().y(), c.click.y(), 0.01) << c.name;
        }
    }
}

TEST_F(LiveFocus, TheBodysOwnZoomShowsAPartAroundTheAfAreaAndClicksStillLandRight) {
    startLiveView();
    ASSERT_TRUE(h.settle([&] { return live().bodyZoomMax() > 0; }));
    EXPECT_EQ(live().bodyZoomMax(), 7);  // the D850's steps
    ASSERT_EQ(finish(live().moveAfArea({0.25, 0.25})), std::nullopt);
    EXPECT_EQ(finish(live().setBodyZoom(3)), std::nullopt);
    EXPECT_EQ(live().bodyZoom(), 3);
    freshFrames();
    ASSERT_TRUE(live().header());
    // A quarter of the whole area each way, around the AF area at (1600, 1060).
    EXPECT_EQ(live().header()->display, QSize(1600, 1060));
    EXPECT_EQ(live().header()->displayCentre, QPoint(1600, 1060));
    EXPECT_NEAR(live().afArea()->width(), 0.4, 0.01);
    // A click on the enlarged picture moves the area within the part shown.
    ASSERT_EQ(finish(live().moveAfArea({0.75, 0.5})), std::nullopt);
    freshFrames();
    EXPECT_EQ(live().header()->afCentre, QPoint(1600 - 800 + 1200, 1060));
    EXPECT_EQ(finish(live().setBodyZoom(0)), std::nullopt);
    freshFrames();
    EXPECT_EQ(live().header()->display, QSize(6400, 4240));
}

TEST_F(LiveFocus, TheLensDrivesToItsEndsAndTheSceneSharpensWithFocus) {
    startLiveView();
    live().setAids({true, false, false, LiveAids::Guide::none});
    freshFrames();
    const int sharp = live().analysis().edgePixels;
    ASSERT_GT(sharp, 100);
    const int subject = h.camera->lensFocus();

    EXPECT_EQ(finish(live().driveFocus(Direction::far, 500)), std::nullopt);
    EXPECT_EQ(h.camera->lensFocus(), subject + 500);
    freshFrames();
    EXPECT_LT(live().analysis().edgePixels, sharp / 4);

    // AF brings the lens back to the subject and the body says it is in focus.
    h.model->capture().autofocus();
    ASSERT_TRUE(h.settle([&] { return live().judgement() == FocusJudgement::focused; }));
    EXPECT_EQ(h.camera->lensFocus(), subject);
    freshFrames();
    EXPECT_GT(live().analysis().edgePixels, sharp * 3 / 4);

    // The ends of the travel: the drive stops there and says so; back the other way works.
    EXPECT_EQ(finish(live().driveFocus(Direction::far, 32767)), LiveViewModel::lensEndText());
    EXPECT_EQ(finish(live().driveFocus(Direction::far, 20)), LiveViewModel::lensEndText());
    EXPECT_EQ(finish(live().driveFocus(Direction::near, 20)), std::nullopt);
    EXPECT_EQ(finish(live().driveFocus(Direction::near, 32767)), LiveViewModel::lensEndText());
    EXPECT_EQ(h.camera->lensFocus(), 0);
    freshFrames();
    EXPECT_EQ(live().judgement(), FocusJudgement::none);
}

TEST_F(LiveFocus, AFocusStackStepsTheLensBetweenShotsAndStopsAtItsEnd) {
    startLiveView();
    // 250 steps before the far end: shots at 1750, 1850 and 1950, then the lens runs out.
    ASSERT_EQ(finish(live().driveFocus(Direction::far, 32767)), LiveViewModel::lensEndText());
    ASSERT_EQ(finish(live().driveFocus(Direction::near, 250)), std::nullopt);
    std::vector<int> lensAtShots;
    QObject::connect(&h.model->capture(), &CaptureModel::releasedShotSaved,
                     [&](const QString&) { lensAtShots.push_back(h.camera->lensFocus()); });
    auto stack = makeStack();
    const QString summary = runStack(*stack, {5, 100, Direction::far, false});
    EXPECT_EQ(summary,
              QString::fromUtf8("フォーカスシフト撮影: レンズの端に達したので 3 枚で止めました。"));
    EXPECT_EQ(stack->taken(), 3);
    EXPECT_EQ(lensAtShots, (std::vector<int>{1750, 1850, 1950}));
    EXPECT_EQ(h.camera->lensFocus(), 2000);
    EXPECT_FALSE(stack->running());
    EXPECT_TRUE(live().isLive());  // live view is back after the last shot
}

TEST_F(LiveFocus, AFocusStackStopsWhenCancelledAndRefusesOutsideLiveView) {
    h.connectReady();
    auto stack = makeStack();
    EXPECT_EQ(runStack(*stack, {5, 20, Direction::near, false}),
              QString::fromUtf8("フォーカスシフト撮影はライブビュー中に始めてください。"));
    live().toggle();
    ASSERT_TRUE(h.settle([&] { return live().state() == NikonLiveView::State::on; }));
    // Cancelled while its first picture is on its way: that one is kept, no other is taken.
    int saved = 0;
    QObject::connect(&h.model->capture(), &CaptureModel::releasedShotSaved, [&](const QString&) {
        ++saved;
        stack->cancel();
    });
    EXPECT_EQ(runStack(*stack, {5, 20, Direction::near, false}),
              QString::fromUtf8("フォーカスシフト撮影を中止しました（1 / 5 枚）。"));
    EXPECT_EQ(saved, 1);

    // A shot the body refuses ends the stack at once, with what was taken.
    h.camera->refuse(PTP::code(PTP::Op::initiateCapture), PTP::code(PTP::Response::generalError));
    h.camera->refuse(PTP::code(PTP::Op::nikonCapture), PTP::code(PTP::Response::generalError));
    ASSERT_TRUE(h.settle([&] { return live().state() == NikonLiveView::State::on; }));
    EXPECT_EQ(runStack(*stack, {5, 20, Direction::near, false}),
              QString::fromUtf8(
                  "フォーカスシフト撮影: 1 枚目を撮れなかったので止めました（0 / 5 枚）。"));
    EXPECT_EQ(stack->taken(), 0);
}

TEST_F(LiveFocus, OutsideLiveViewOrOnABodyWithoutTheOperationsItSaysWhy) {
    h.connectReady();
    EXPECT_EQ(finish(live().moveAfArea({0.5, 0.5})),
              QString::fromUtf8("ライブビュー中だけ使えます。"));
    EXPECT_EQ(finish(live().driveFocus(Direction::near, 20)),
              QString::fromUtf8("ライブビュー中だけ使えます。"));
    // A failure asked for from the window reaches the session's error line.
    live().requestFocusDrive(Direction::far, 20);
    ASSERT_TRUE(h.settle([&] { return h.model->lastError().has_value(); }));
    EXPECT_EQ(h.model->lastError(), QString::fromUtf8("ライブビュー中だけ使えます。"));
}

}  // namespace
}  // namespace pexil
