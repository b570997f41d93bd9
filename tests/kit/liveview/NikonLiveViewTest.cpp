// NikonLiveView against a reactive fake Nikon body on the virtual clock.
#include "kit/async/Completion.h"
#include "kit/async/Sleep.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/liveview/NikonLiveView.h"
#include "kit/ptp/PTP.h"
#include "support/Datasets.h"
#include "support/LiveViewMemoryFake.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

namespace pexil {
namespace {

using Op = PTP::Op;

struct Sent {
    std::uint16_t op = 0;
    std::vector<std::uint32_t> params;
    std::optional<Bytes> data;
};

struct Answer {
    std::uint16_t response = 0x2001;
    Bytes data;
};

// A Nikon body as far as live view goes. Frames take 1/30 s of virtual time so that the
// frame loop lets time move; everything else answers at once.
class FakeBody final : public CommandTransport {
public:
    explicit FakeBody(async::Clock& clock) : clock_(clock) {}

    async::Task<Result<PTPAnswer, TransportError>> transact(PTPRequest request) override {
        using Outcome = Result<PTPAnswer, TransportError>;
        Sent sent{PTP::code(request.op), std::move(request.params), std::move(request.data)};
        sent_.push_back(sent);
        if (onCommand) onCommand(sent);
        const Answer answer = answerFor(sent);
        const PTPAnswer reply{answer.response, {}, answer.data};
        const bool frame = sent.op == PTP::code(Op::nikonGetLiveViewImg);
        // Through the main executor even when at once, as a transport on a wire answers.
        auto deliver = [this, &reply, frame](async::Resolver<Outcome> resolver) {
            if (!frame) {
                resolver.resolve(reply);
                return;
            }
            clock_.startTimer(async::Seconds(1.0 / 30),
                              [resolver, reply] { resolver.resolve(reply); });
        };
        auto answered = co_await async::waitFor<Outcome>(std::move(deliver));
        co_return answered;
    }

    // `number` tells one picture from the next, as the sensor's content does.
    static Bytes frame(std::size_t header = 384, std::uint8_t number = 0) {
        Bytes out(header, 0x11);
        const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, number, 0xFF, 0xD9};
        out.insert(out.end(), jpeg.begin(), jpeg.end());
        return out;
    }

    std::size_t count(Op op) const {
        return static_cast<std::size_t>(std::count_if(
            sent_.begin(), sent_.end(), [op](const Sent& s) { return s.op == PTP::code(op); }));
    }
    // The commands without the ready polls and property reads, as "op[=data]" texts.
    std::vector<std::string> actions() const {
        std::vector<std::string> out;
        for (const auto& s : sent_) {
            if (s.op == PTP::code(Op::nikonDeviceReady) ||
                s.op == PTP::code(Op::getDevicePropValue))
                continue;
            std::string text = QString::asprintf("%04X", s.op).toStdString();
            if (!s.params.empty()) text += QString::asprintf("(%X)", s.params[0]).toStdString();
            if (s.data && s.data->size() == 1) text += "=" + std::to_string((*s.data)[0]);
            out.push_back(text);
        }
        return out;
    }
    void clearSent() { sent_.clear(); }

    std::uint32_t prohibition = 0;
    std::uint8_t status = 0;
    std::uint8_t media = 0;
    bool framesOnCard = true;  // false: header-only frames while recording to the card
    std::uint16_t startResponse = 0x2001;
    std::uint16_t changeModeResponse = 0x2001;
    std::uint16_t mediaWriteResponse = 0x2001;
    std::deque<std::uint16_t> frameFailures;  // answers to the next fetches, before frames
    bool repeatFrames = false;  // the sensor has nothing new: every answer is the same picture
    std::uint8_t frameNumber = 0;
    std::function<void(const Sent&)> onCommand;

private:
    Answer answerFor(const Sent& sent) {
        const auto op = static_cast<Op>(sent.op);
        switch (op) {
            case Op::getDeviceInfo:
                return {0x2001, testing::deviceInfo()};
            case Op::getDevicePropValue: {
                const auto code = sent.params.empty() ? 0 : sent.params[0];
                if (code == PTP::Prop::nikonLiveViewProhibit) {
                    Bytes b;
                    PTP::appendLE(b, prohibition);
                    return {0x2001, b};
                }
                if (code == PTP::Prop::nikonLiveViewStatus) return {0x2001, Bytes(1, status)};
                if (code == PTP::Prop::nikonRecordingMedia) return {0x2001, Bytes(1, media)};
                return {0x200A, {}};
            }
            case Op::setDevicePropValue:
                if (mediaWriteResponse != 0x2001) return {mediaWriteResponse, {}};
                if (sent.data && !sent.data->empty()) media = (*sent.data)[0];
                return {};
            case Op::nikonChangeCameraMode:
                return {changeModeResponse, {}};
            case Op::nikonStartLiveView:
                if (startResponse == 0x2001) status = 1;
                return {startResponse, {}};
            case Op::nikonEndLiveView:
                if (status == 0) return {0xA00B, {}};
                status = 0;
                return {};
            case Op::nikonGetLiveViewImg:
                if (!frameFailures.empty()) {
                    const auto code = frameFailures.front();
                    frameFailures.pop_front();
                    return {code, {}};
                }
                if (status != 1) return {0xA00B, {}};
                if (media == 0 && !framesOnCard) return {0x2001, Bytes(384, 0x11)};
                return {0x2001, frame(384, repeatFrames ? 0 : ++frameNumber)};
            default:
                return {};
        }
    }

    async::Clock& clock_;
    std::vector<Sent> sent_;
};

class NikonLiveViewTest : public ::testing::Test {
protected:
    NikonLiveViewTest()
        : body(std::make_shared<FakeBody>(rt.clock())),
          camera(rt, body, [this](const QString& line) { log.append(line); }) {
        EXPECT_TRUE(rt.run(camera.readDeviceInfo()).value().has_value());
        body->clearSent();
        makeLiveView();
    }

    void makeLiveView() {
        liveView =
            std::make_unique<NikonLiveView>(camera, QStringLiteral("D850-3000123"), memory,
                                            [this](const QString& line) { log.append(line); });
        liveView->onFrame = [this](ByteView frame) {
            ++frames;
            lastFrameSize = frame.size();
        };
        liveView->onChange = [this] {
            changes.push_back(liveView->suspended() ? -1 : static_cast<int>(liveView->state()));
        };
    }
    bool remembered() const {
        return memory->needsSDRAM(QStringLiteral("liveViewNeedsSDRAM.D850-3000123"));
    }
    std::optional<QString> start() { return rt.run(liveView->start()).value(); }
    void stop(const QString& reason = QStringLiteral("ボタン")) {
        ASSERT_TRUE(rt.run(liveView->stop(reason)));
    }
    std::vector<std::string> firstActions(std::size_t n) const {
        auto all = body->actions();
        all.resize(std::min(n, all.size()));
        return all;
    }
    QStringList logWith(const QString& prefix) const {
        QStringList out;
        for (const auto& line : log)
            if (line.startsWith(prefix)) out << line;
        return out;
    }

    std::shared_ptr<testing::LiveViewMemoryFake> memory =
        std::make_shared<testing::LiveViewMemoryFake>();
    async::VirtualRuntime rt;
    std::shared_ptr<FakeBody> body;
    PTPCamera camera;
    QStringList log;
    std::unique_ptr<NikonLiveView> liveView;
    int frames = 0;
    std::size_t lastFrameSize = 0;
    std::vector<int> changes;
};

using State = NikonLiveView::State;
const QString cleanUpAll =
    QStringLiteral("ライブビュー: 後始末 終了 OK / カードへ OK / 制御権を返す OK");
const QString cleanUpCard = QStringLiteral("ライブビュー: 後始末 終了 OK / 制御権を返す OK");

TEST(NikonLiveViewJpeg, FindsThePictureBehindTheVendorHeaderWithoutCopying) {
    const Bytes answer = FakeBody::frame(384);
    const auto picture = NikonLiveView::jpeg(answer);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), answer.size() - 384);
    EXPECT_EQ(picture->data(), answer.data() + 384);  // a view into the answer, not a copy

    // The search covers the first 4096 bytes only, whatever follows.
    EXPECT_FALSE(NikonLiveView::jpeg(FakeBody::frame(4097)));
    EXPECT_FALSE(NikonLiveView::jpeg(FakeBody::frame(4094)));  // marker ends past byte 4096
    EXPECT_TRUE(NikonLiveView::jpeg(FakeBody::frame(4093)));
    // Too short to hold a picture, even with the marker; empty; marker split at the end.
    EXPECT_FALSE(NikonLiveView::jpeg(Bytes{0xFF, 0xD8, 0xFF}));
    EXPECT_FALSE(NikonLiveView::jpeg(Bytes{}));
    EXPECT_FALSE(NikonLiveView::jpeg(Bytes{0x00, 0x00, 0xFF, 0xD8}));
    EXPECT_EQ(NikonLiveView::jpeg(Bytes{0xFF, 0xD8, 0xFF, 0xD8})->size(), 4u);
    // Only FF D8 FF counts as a start, not FF D8 alone.
    EXPECT_EQ(NikonLiveView::jpeg(Bytes{0xFF, 0xD8, 0x00, 0xFF, 0xD8, 0xFF, 0x01})->size(), 4u);
}

TEST(NikonLiveViewExplanation, FirstMatchingProhibitionWins) {
    const auto lv = [](std::optional<std::uint32_t> p) {
        return NikonLiveView::explanation(p).toStdString();
    };
    EXPECT_EQ(lv(std::nullopt),
              "ライブビューを開始できませんでした。レリーズモードダイヤルが Lv "
              "になっていないか確認してください。");
    EXPECT_EQ(lv(0x100 | 0x80000000), "カメラの電池が足りないため、ライブビューを開始できません。");
    EXPECT_EQ(
        lv(0x20000 | 0x4000),
        "カメラの温度が上がっているため、ライブビューを開始できません。しばらく休ませてください。");
    for (std::uint32_t card : {0x4000u, 0x40000u, 0x80000u, 0x100000u}) {
        EXPECT_EQ(lv(card | 0x80000000),
                  "カードを確認してください（入っていない、書き込み禁止、エラー、未フォーマットのい"
                  "ずれか）。");
    }
    EXPECT_EQ(lv(0x80000000 | 0x200000), "撮影モードを P・A・S・M のいずれかにしてください。");
    EXPECT_EQ(lv(0x200000 | 0x10), "バルブではライブビューを使えません。");
    EXPECT_EQ(lv(0x10 | 0x400000), "シャッターボタンが押されたままです。");
    EXPECT_EQ(lv(0x400000), "ミラーアップ中はライブビューを使えません。");
    EXPECT_EQ(lv(0x200),
              "ライブビューを開始できませんでした（0x00000200）。レリーズモードダイヤルが Lv "
              "になっていないか確認してください。");
    EXPECT_EQ(lv(0),
              "ライブビューを開始できませんでした（0x00000000）。レリーズモードダイヤルが Lv "
              "になっていないか確認してください。");
}

TEST_F(NikonLiveViewTest, StartsTakesControlAndDeliversFrames) {
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::on);
    EXPECT_EQ(log.first(), QStringLiteral("ライブビュー: 開始 [LV=0 記録先=0 禁止=0x00000000]"));
    // The frame loop may have sent its first fetch already.
    EXPECT_EQ(firstActions(3), (std::vector<std::string>{"90C2(1)", "9201", "9203"}));
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(lastFrameSize, 9u);
    rt.runFor(async::Seconds(1));
    EXPECT_GE(frames, 25);  // back to back at the camera's pace

    // A second start while on sends nothing.
    body->clearSent();
    EXPECT_EQ(rt.run(liveView->start(), async::Seconds(0)).value(), std::nullopt);
    EXPECT_EQ(body->count(Op::nikonChangeCameraMode), 0u);

    stop(QStringLiteral("ボタン"));
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 停止（ボタン）")));
    EXPECT_EQ(log.last(), cleanUpCard);
    EXPECT_EQ(body->status, 0);
    const auto fetched = body->count(Op::nikonGetLiveViewImg);
    rt.runFor(async::Seconds(1));
    EXPECT_EQ(body->count(Op::nikonGetLiveViewImg), fetched) << "the loop outlived stop";
    const std::vector<int> expected{1, 2, 3, 0};
    EXPECT_EQ(changes, expected);
}

TEST_F(NikonLiveViewTest, TheSamePictureAgainIsNotHandedOnAndSlowsTheFetches) {
    std::vector<LiveViewHeader> headers;
    liveView->onHeader = [&headers](const LiveViewHeader& header) { headers.push_back(header); };
    EXPECT_EQ(start(), std::nullopt);
    ASSERT_EQ(frames, 1);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].whole, QSize(0x1111, 0x1111));  // the fake's header bytes

    body->repeatFrames = true;
    rt.runFor(async::Seconds(0.1));  // the first repeat may still be a new picture
    const int shown = frames;
    const auto fetched = body->count(Op::nikonGetLiveViewImg);
    rt.runFor(async::Seconds(1));
    EXPECT_EQ(frames, shown);
    EXPECT_EQ(headers.size(), static_cast<std::size_t>(frames));
    // Each answer takes the fake 1/30 s; a sixtieth of a second's pause after each repeat
    // makes 20 fetches a second instead of 30 back to back.
    EXPECT_LE(body->count(Op::nikonGetLiveViewImg) - fetched, 21u);
    EXPECT_GE(body->count(Op::nikonGetLiveViewImg) - fetched, 18u);

    body->repeatFrames = false;
    rt.runFor(async::Seconds(0.5));
    EXPECT_GT(frames, shown + 10);
    stop();
}

TEST_F(NikonLiveViewTest, CardWithoutFramesSwitchesToSDRAMAndRemembersIt) {
    body->framesOnCard = false;
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::on);
    const auto actions = body->actions();
    ASSERT_GE(actions.size(), 22u);
    EXPECT_EQ(std::count(actions.begin(), actions.begin() + 17, "9203"), 15);
    EXPECT_EQ(std::vector<std::string>(actions.begin() + 17, actions.begin() + 21),
              (std::vector<std::string>{"9202", "1016(D10B)=1", "9201", "9203"}));
    const int switched = static_cast<int>(log.indexOf(
        QStringLiteral("ライブビュー: カードのままでは映像が来ない。SDRAM に切り替えて再試行")));
    EXPECT_GT(switched, 0);
    EXPECT_EQ(log.value(switched + 1), QStringLiteral("ライブビュー: 記録先を SDRAM に"));
    EXPECT_TRUE(remembered());

    stop();
    EXPECT_EQ(log.last(), cleanUpAll);
    EXPECT_EQ(body->media, 0);

    // The next start (also by a new object for the same camera) goes to SDRAM first.
    makeLiveView();
    body->clearSent();
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(firstActions(4),
              (std::vector<std::string>{"90C2(1)", "1016(D10B)=1", "9201", "9203"}));
}

TEST_F(NikonLiveViewTest, RefusedStartsExplainWithTheProhibitionBits) {
    // Bit 9 gives up at once, on the card and again on SDRAM.
    body->startResponse = 0xA004;
    body->prohibition = 0x200;
    auto message = start();
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, NikonLiveView::explanation(0x200));
    EXPECT_TRUE(message->contains(QStringLiteral("0x00000200")));
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 2u);
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_EQ(logWith(QStringLiteral("ライブビュー: 開始命令を拒否された ")).size(), 2);
    EXPECT_EQ(logWith(QStringLiteral("ライブビュー: 開始できない ")),
              QStringList{QStringLiteral("ライブビュー: 開始できない ") + *message});
    // Live view never began, so ending it fails; the clean-up goes on regardless.
    EXPECT_EQ(log.last().toStdString(), (QStringLiteral("ライブビュー: 後始末 終了 ") +
                                         describe(CameraError(PTPError::response(0xA00B))) +
                                         QStringLiteral(" / カードへ OK / 制御権を返す OK"))
                                            .toStdString());
    EXPECT_FALSE(remembered());

    // The mode dial: same path, another message.
    body->prohibition = 0x80000000;
    message = start();
    EXPECT_EQ(message, QStringLiteral("撮影モードを P・A・S・M のいずれかにしてください。"));
}

TEST_F(NikonLiveViewTest, RefusalsWithoutAReasonAreRetriedUpToEightCommands) {
    body->startResponse = 0xA004;
    body->prohibition = 0;
    const auto startedAt = rt.clock().monotonic();
    auto message = start();
    ASSERT_TRUE(message);
    // Eight on the card, eight more on SDRAM, each retry after at least 0.5 s.
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 16u);
    EXPECT_GE((rt.clock().monotonic() - startedAt).count(), 14 * 0.5);
    const auto refused = logWith(QStringLiteral("ライブビュー: 開始命令を拒否された "));
    ASSERT_EQ(refused.size(), 16);
    EXPECT_TRUE(refused[7].endsWith(QStringLiteral("（8 回目）")));
    EXPECT_TRUE(refused[8].endsWith(QStringLiteral("（1 回目）")));
    EXPECT_EQ(*message, NikonLiveView::explanation(0u));
}

TEST_F(NikonLiveViewTest, DestinationBitIsRetriedOnlyAfterSwitchingToSDRAM) {
    // Bit 0 with bit 15 (capture under way): on SDRAM the write is repeated and retried.
    body->framesOnCard = false;
    int refusals = 2;
    body->onCommand = [&](const Sent& s) {
        if (s.op == PTP::code(Op::setDevicePropValue) && body->media == 0) {
            body->startResponse = 0xA004;
            body->prohibition = 0x8001;
        }
        if (s.op == PTP::code(Op::nikonStartLiveView) && body->startResponse != 0x2001 &&
            --refusals < 0)
            body->startResponse = 0x2001;
    };
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::on);
    // Card start, then on SDRAM: refused, rewrite, refused, rewrite, started.
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 4u);
    EXPECT_EQ(body->count(Op::setDevicePropValue), 3u);
}

TEST_F(NikonLiveViewTest, ControlRefusedIsToleratedOtherFailuresAreExplained) {
    body->changeModeResponse = 0xA003;
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_TRUE(
        log.contains(QStringLiteral("ライブビュー: 制御権 ChangeCameraModeFailed（続行）")));
    stop();

    body->changeModeResponse = 0x2002;
    body->prohibition = 0x100;
    log.clear();
    const auto message = start();
    EXPECT_EQ(message, NikonLiveView::explanation(0x100));
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 1u);
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 失敗の元 ") +
                             describe(CameraError(PTPError::response(0x2002)))));
    // Control was never taken, so it is not handed back.
    EXPECT_TRUE(log.last().startsWith(QStringLiteral("ライブビュー: 後始末 終了 ")));
    EXPECT_FALSE(log.last().contains(QStringLiteral("制御権を返す")));
}

TEST_F(NikonLiveViewTest, StopWhileStartingEndsOffWithNothingReturned) {
    body->framesOnCard = false;
    async::Scope scope(rt);
    body->onCommand = [&](const Sent& s) {
        if (s.op == PTP::code(Op::nikonGetLiveViewImg) && body->count(Op::nikonGetLiveViewImg) == 3)
            scope.spawn(liveView->stop(QStringLiteral("ボタン")));
    };
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_EQ(body->count(Op::nikonGetLiveViewImg), 3u);
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 1u);
    EXPECT_TRUE(logWith(QStringLiteral("ライブビュー: 開始できない")).isEmpty());
    EXPECT_FALSE(log.contains(QStringLiteral("ライブビュー: 停止（ボタン）")));
    EXPECT_EQ(log.last(), cleanUpCard);
    EXPECT_EQ(changes, (std::vector<int>{1, 0}));
    EXPECT_FALSE(remembered());
}

TEST_F(NikonLiveViewTest, ForgetDuringStartSendsNothingMore) {
    body->framesOnCard = false;
    body->onCommand = [&](const Sent& s) {
        if (s.op == PTP::code(Op::nikonGetLiveViewImg) && body->count(Op::nikonGetLiveViewImg) == 2)
            liveView->forget();
    };
    EXPECT_EQ(start(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_EQ(body->actions(), (std::vector<std::string>{"90C2(1)", "9201", "9203", "9203"}));
}

TEST_F(NikonLiveViewTest, FrameLoopToleratesFourFailuresAndStopsAtFive) {
    ASSERT_EQ(start(), std::nullopt);
    // Busy answers do not count; four failures then a good frame keep it running.
    body->frameFailures = {0x2002, 0x2019, 0x2002, 0x2002, 0x2002};
    rt.runFor(async::Seconds(2));
    EXPECT_EQ(liveView->state(), State::on);
    const int before = frames;
    rt.runFor(async::Seconds(1));
    EXPECT_GT(frames, before);

    body->frameFailures = {0x2002, 0x2002, 0x2002, 0x2002, 0x2002};
    rt.runFor(async::Seconds(2));
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 停止（コマ取りが続けて失敗: ") +
                             describe(CameraError(PTPError::response(0x2002))) +
                             QStringLiteral("）")));
    EXPECT_EQ(log.last(), cleanUpCard);
}

TEST_F(NikonLiveViewTest, FrameLoopReopensWhenTheCameraLeavesLiveView) {
    ASSERT_EQ(start(), std::nullopt);
    body->status = 0;  // the camera ended live view by itself
    rt.runFor(async::Seconds(1));
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: カメラ側で止まった。開き直す")));
    EXPECT_EQ(body->count(Op::nikonStartLiveView), 2u);
    EXPECT_EQ(liveView->state(), State::on);

    // When reopening fails, live view stops with its reason.
    body->status = 0;
    body->startResponse = 0xA004;
    body->prohibition = 0x100;
    rt.runFor(async::Seconds(2));
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_TRUE(
        log.contains(QStringLiteral("ライブビュー: 停止（カメラ側で止まり、開き直せなかった）")));
}

TEST_F(NikonLiveViewTest, WhileSuspendedRunsTheShotDirectlyWhenOff) {
    bool ran = false;
    auto result = rt.run(liveView->whileSuspended([] { return 0; }, 5,
                                                  [&]() -> async::Task<bool> {
                                                      ran = true;
                                                      co_return true;
                                                  }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(result.value(), std::nullopt);
    EXPECT_TRUE(body->actions().empty());
}

TEST_F(NikonLiveViewTest, WhileSuspendedShootsOnTheCardAndRestartsOnSDRAM) {
    body->framesOnCard = false;
    ASSERT_EQ(start(), std::nullopt);
    changes.clear();
    body->clearSent();
    int shots = 0;
    async::Scope scope(rt);
    std::vector<std::string> atShot;
    double shotSeenAfter = 0;
    const auto t0 = rt.clock().monotonic();
    auto result =
        rt.run(liveView->whileSuspended([&] { return shots; }, 5,
                                        [&]() -> async::Task<bool> {
                                            atShot = body->actions();
                                            EXPECT_TRUE(liveView->suspended());
                                            EXPECT_EQ(body->media, 0)
                                                << "the shot must go to the card";
                                            // The picture arrives 1.2 s after the release.
                                            scope.spawn([](int& count) -> async::Task<void> {
                                                co_await async::sleep(1.2);
                                                ++count;
                                            }(shots));
                                            co_return true;
                                        }));
    EXPECT_EQ(result.value(), std::nullopt);
    shotSeenAfter = (rt.clock().monotonic() - t0).count();
    EXPECT_GE(shotSeenAfter, 1.2);
    EXPECT_LT(shotSeenAfter, 2.0);
    EXPECT_EQ(atShot, (std::vector<std::string>{"9202", "1016(D10B)=0"}));
    const auto actions = body->actions();
    ASSERT_GE(actions.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(actions.begin() + 2, actions.begin() + 5),
              (std::vector<std::string>{"1016(D10B)=1", "9201", "9203"}));
    EXPECT_FALSE(liveView->suspended());
    EXPECT_EQ(changes, (std::vector<int>{-1, 2}));
    // Frames resume: the pause count is back to zero.
    const int before = frames;
    rt.runFor(async::Seconds(1));
    EXPECT_GT(frames, before + 10);
    stop();
    EXPECT_EQ(log.last(), cleanUpAll);
}

TEST_F(NikonLiveViewTest, WhileSuspendedGivesUpTheShotWhenTheCardCannotBeRestored) {
    body->framesOnCard = false;
    ASSERT_EQ(start(), std::nullopt);
    body->mediaWriteResponse = 0x2002;
    bool ran = false;
    auto result = rt.run(liveView->whileSuspended([] { return 0; }, 5,
                                                  [&]() -> async::Task<bool> {
                                                      ran = true;
                                                      co_return true;
                                                  }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(result.value(),
              QStringLiteral("記録先をカードに戻せなかったため、撮影をやめました。"));
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_FALSE(liveView->suspended());
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 停止（記録先をカードに戻せない）")));
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 記録先をカードに戻せない ") +
                             describe(CameraError(PTPError::response(0x2002)))));
}

TEST_F(NikonLiveViewTest, WhileSuspendedStopsWhenLiveViewCannotRestart) {
    ASSERT_EQ(start(), std::nullopt);
    auto result = rt.run(liveView->whileSuspended([] { return 0; }, 1,
                                                  [&]() -> async::Task<bool> {
                                                      body->startResponse = 0xA004;
                                                      body->prohibition = 0x10;
                                                      co_return true;
                                                  }));
    EXPECT_EQ(result.value(), std::nullopt);
    EXPECT_EQ(liveView->state(), State::off);
    EXPECT_FALSE(liveView->suspended());
    EXPECT_TRUE(log.contains(QStringLiteral("ライブビュー: 停止（撮影後に開き直せなかった）")));
}

TEST_F(NikonLiveViewTest, RestoreIfInterruptedRepairsOnlyWhatWasLeft) {
    rt.run(
        NikonLiveView::restoreIfInterrupted(camera, [this](const QString& l) { log.append(l); }));
    EXPECT_EQ(body->count(Op::getDevicePropValue), 2u);
    EXPECT_TRUE(body->actions().empty());
    EXPECT_TRUE(log.isEmpty());

    body->status = 1;
    body->media = 1;
    rt.run(
        NikonLiveView::restoreIfInterrupted(camera, [this](const QString& l) { log.append(l); }));
    EXPECT_EQ(body->actions(), (std::vector<std::string>{"9202", "90C2(0)", "1016(D10B)=0"}));
    EXPECT_EQ(log,
              (QStringList{QStringLiteral("前回のライブビューが残っていたので止めた"),
                           QStringLiteral("記録先が SDRAM のまま残っていたのでカードに戻した")}));
}

TEST_F(NikonLiveViewTest, DroppedWhileItReadsTheCameraStateItReadsNothingMore) {
    // The owner drops the view (the session ended) while start() awaits its first reading.
    body->onCommand = [this](const Sent& sent) {
        if (sent.op == PTP::code(Op::getDevicePropValue) && liveView)
            rt.runtime().main().post([this] { liveView.reset(); });
    };
    async::Scope scope(rt);
    scope.spawn([](NikonLiveView& view) -> async::Task<void> { co_await view.start(); }(*liveView));
    rt.runFor(async::Seconds(1));
    EXPECT_FALSE(liveView);
    EXPECT_EQ(body->count(Op::getDevicePropValue), 1u);
    EXPECT_TRUE(rt.unhandled().isEmpty());
}

TEST_F(NikonLiveViewTest, DestroyingTheObjectEndsTheLoop) {
    ASSERT_EQ(start(), std::nullopt);
    liveView.reset();
    const auto fetched = body->count(Op::nikonGetLiveViewImg);
    rt.runFor(async::Seconds(1));
    EXPECT_LE(body->count(Op::nikonGetLiveViewImg), fetched + 1);
    EXPECT_TRUE(rt.unhandled().isEmpty());
}

}  // namespace
}  // namespace pexil
