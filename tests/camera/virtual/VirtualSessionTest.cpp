// The session engine over the in-process link to a camera without a thread of its own:
// everything happens on the main executor as the virtual clock moves, so these tests never
// wait on real time.
#include "camera/session/SessionEngine.h"
#include "camera/virtual/VirtualCameraSupport.h"
#include "camera/virtual/VirtualTransport.h"
#include "kit/ptp/PTPEvent.h"

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

using testing::bodyClockFollowing;
using testing::makeCamera;
using testing::quickOptions;

struct AtOnce {
    async::VirtualRuntime rt;
    std::shared_ptr<VirtualCamera> camera;
    std::shared_ptr<SessionEngine> engine;
    std::vector<std::uint16_t> events;
    std::vector<QString> losses;

    explicit AtOnce(VirtualCamera::Options options = threadless()) {
        options.clock = bodyClockFollowing(rt);
        camera = makeCamera(std::move(options));
        engine = SessionEngine::create(rt, std::make_unique<VirtualTransport>(camera));
        engine->setEventHandler([this](Bytes container) {
            if (auto event = PTPEvent::container(container)) events.push_back(event->code);
        });
        engine->setLossHandler([this](TransportError error) { losses.push_back(error.message); });
    }
    static VirtualCamera::Options threadless() {
        auto options = quickOptions();
        options.bodyThread = false;
        return options;
    }
    bool open() {
        auto opened = rt.run(engine->open(), async::Seconds{0});
        return opened && opened->ok() && engine->isOpen();
    }
    std::uint16_t call(std::uint16_t code, std::vector<std::uint32_t> params = {}) {
        auto answer = rt.run(engine->exchange(code, std::move(params)), async::Seconds{0});
        if (!answer || !*answer) return 0;
        return answer->value().response.code;
    }
    bool saw(PTP::Event event) const {
        return std::find(events.begin(), events.end(), PTP::code(event)) != events.end();
    }
};

TEST(VirtualSession, ACameraAnswersAtOnceOnlyWhenNoCallCanBlock) {
    const struct {
        const char* what;
        void (*change)(VirtualCamera::Options&);
        bool atOnce;
    } rows[] = {
        {"threadless on its own clock", [](VirtualCamera::Options&) {}, true},
        {"a body thread", [](VirtualCamera::Options& o) { o.bodyThread = true; }, false},
        {"latency, which takes no time", [](VirtualCamera::Options& o) { o.latencyMs = 5; }, true},
        {"a stall to come", [](VirtualCamera::Options& o) { o.stallAfter = 1000; }, false},
        {"real time", [](VirtualCamera::Options& o) { o.clock.reset(); }, false},
    };
    for (const auto& row : rows) {
        auto options = AtOnce::threadless();
        row.change(options);
        auto camera = makeCamera(std::move(options));
        ASSERT_TRUE(camera);
        EXPECT_EQ(VirtualTransport(camera).answersAtOnce(), row.atOnce) << row.what;
    }
}

TEST(VirtualSession, ACaptureIsAnnouncedWhenTheVirtualClockPassesIt) {
    AtOnce s;
    ASSERT_TRUE(s.open());
    EXPECT_EQ(s.call(PTP::code(PTP::Op::initiateCapture), {0, 0}), PTP::code(PTP::Response::ok));

    // The capture takes 15 ms of the camera's time, which is the runtime's.
    s.rt.runFor(async::Seconds{0.014});
    EXPECT_FALSE(s.saw(PTP::Event::objectAdded));
    s.rt.runFor(async::Seconds{0.002});
    ASSERT_TRUE(s.saw(PTP::Event::objectAdded));
    ASSERT_TRUE(s.saw(PTP::Event::captureComplete));
    const auto added =
        std::find(s.events.begin(), s.events.end(), PTP::code(PTP::Event::objectAdded));
    const auto complete =
        std::find(s.events.begin(), s.events.end(), PTP::code(PTP::Event::captureComplete));
    EXPECT_LT(added, complete);
    EXPECT_TRUE(s.losses.empty());

    // Pulling the cable is heard without any transaction.
    s.camera->unplug();
    s.rt.runReady();
    ASSERT_EQ(s.losses.size(), 1u);
    EXPECT_EQ(s.losses[0], QString::fromUtf8("仮想カメラとの接続が切れています"));
}

TEST(VirtualSession,
     ACaptureDueWhileNobodyRanTheQueueIsHeardAtItsNextTurnAndAClosedEngineHearsNothing) {
    AtOnce s;
    ASSERT_TRUE(s.open());
    EXPECT_EQ(s.call(PTP::code(PTP::Op::initiateCapture), {0, 0}), PTP::code(PTP::Response::ok));
    // Time moves without anyone running the main queue: what the capture raised is read at
    // the queue's next turn, in order with the next answer.
    s.rt.clock().advance(async::Seconds{0.02});
    EXPECT_EQ(s.call(PTP::code(PTP::Op::getNumObjects), {0xFFFFFFFF, 0, 0}),
              PTP::code(PTP::Response::ok));
    EXPECT_TRUE(s.saw(PTP::Event::objectAdded));

    ASSERT_TRUE(s.rt.run(s.engine->close(), async::Seconds{0}));
    const auto heard = s.events.size();
    s.camera->pressShutter();
    s.rt.runFor(async::Seconds{1});
    s.camera->unplug();
    s.rt.runReady();
    EXPECT_EQ(s.events.size(), heard);
    EXPECT_TRUE(s.losses.empty());
}

}  // namespace
}  // namespace pexil::camera
