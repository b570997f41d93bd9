#include "kit/async/NextSignal.h"

#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <gtest/gtest.h>

#include <memory>

namespace pexil::async {
namespace {

// objectNameChanged is a signal every QObject has: no class of the test's own to declare.
struct Probe : QObject {
    using QObject::receivers;
};

struct Outcome {
    bool resumed = false;
    std::optional<QString> name;
    Seconds at{-1};
};

Task<void> awaitName(Runtime& rt, const QObject* sender, double timeout, Outcome& out) {
    const auto got = co_await NextSignal(sender, &QObject::objectNameChanged, Seconds{timeout});
    out.resumed = true;
    if (got) out.name = std::get<0>(*got);
    out.at = rt.clock().monotonic();
}

TEST(NextSignal, ResumesWithTheArgumentsOrNoneOnTimeOutCancellationOrTheSendersEnd) {
    enum class Then { once, twice, nothing, cancel, destroy };
    struct Case {
        const char* what;
        Then then;
        std::optional<QString> name;
        double resumedAt;
    };
    for (const Case& c : {Case{"emitted at 3 s", Then::once, QStringLiteral("a"), 3},
                          Case{"only the first emission", Then::twice, QStringLiteral("a"), 3},
                          Case{"never: the time-out", Then::nothing, std::nullopt, 45},
                          Case{"the task cancelled at 3 s", Then::cancel, std::nullopt, 3},
                          Case{"the sender destroyed at 3 s", Then::destroy, std::nullopt, 3}}) {
        VirtualRuntime rt;
        auto sender = std::make_unique<Probe>();
        Outcome out;
        const TaskHandle handle = spawn(rt, awaitName(rt, sender.get(), 45, out));
        rt.runFor(Seconds{3});
        EXPECT_FALSE(out.resumed) << c.what;
        switch (c.then) {
            case Then::once: sender->setObjectName(QStringLiteral("a")); break;
            case Then::twice:
                sender->setObjectName(QStringLiteral("a"));
                sender->setObjectName(QStringLiteral("b"));
                break;
            case Then::nothing: break;
            case Then::cancel: handle.cancel(); break;
            case Then::destroy: sender.reset(); break;
        }
        rt.runFor(Seconds{60});
        EXPECT_TRUE(out.resumed) << c.what;
        EXPECT_EQ(out.name, c.name) << c.what;
        EXPECT_DOUBLE_EQ(out.at.count(), c.resumedAt) << c.what;
        EXPECT_FALSE(rt.clock().hasTimers()) << c.what << ": a timer was left behind";
        // Nothing stays connected: a later emission reaches nobody.
        if (sender) {
            EXPECT_EQ(sender->receivers(SIGNAL(objectNameChanged(QString))), 0) << c.what;
            EXPECT_EQ(sender->receivers(SIGNAL(destroyed(QObject*))), 0) << c.what;
        }
    }
}

TEST(NextSignal, AWaitDestroyedWithItsOwnerLeavesNothingConnected) {
    VirtualRuntime rt;
    Probe sender;
    Outcome out;
    {
        Scope scope(rt);
        scope.spawn(awaitName(rt, &sender, 45, out));
        rt.runReady();
        EXPECT_EQ(sender.receivers(SIGNAL(objectNameChanged(QString))), 1);
    }
    EXPECT_EQ(sender.receivers(SIGNAL(objectNameChanged(QString))), 0);
    sender.setObjectName(QStringLiteral("late"));
    rt.runFor(Seconds{60});
    EXPECT_FALSE(out.resumed);
    EXPECT_FALSE(rt.clock().hasTimers());
}

// Without a limit there is no timer that a virtual clock could jump to while other threads
// still have their answers to give.
TEST(NextSignal, WithoutATimeLimitStartsNoTimerAndWaitsForTheSignal) {
    VirtualRuntime rt;
    Probe sender;
    Outcome out;
    spawn(rt, awaitName(rt, &sender, noTimeLimit.count(), out));
    rt.runFor(Seconds{86400});
    EXPECT_FALSE(out.resumed);
    EXPECT_FALSE(rt.clock().hasTimers());
    sender.setObjectName(QStringLiteral("late"));
    rt.runReady();
    EXPECT_TRUE(out.resumed);
    EXPECT_EQ(out.name, QStringLiteral("late"));
}

Task<void> awaitCondition(Runtime& rt, QObject& sender, Outcome& out) {
    const bool held = co_await until([&sender] { return sender.objectName().size() >= 3; }, &sender,
                                     &QObject::objectNameChanged, Seconds{10});
    out.resumed = true;
    if (held) out.name = sender.objectName();
    out.at = rt.clock().monotonic();
}

// The condition is looked at again after each emission, and the time-out is one for all.
TEST(Until, HoldsWhenTheConditionDoesAfterAnEmissionAndGivesUpAtTheTimeOut) {
    struct Case {
        const char* what;
        std::vector<std::pair<double, const char*>> names;  // at which second, which name
        std::optional<QString> seen;
        double at;
    };
    for (const Case& c : {Case{"held from the start", {}, QStringLiteral("abc"), 0},
                          Case{"the second change makes it", {{2, "ab"}, {6, "abcd"}}, QStringLiteral("abcd"), 6},
                          Case{"never long enough", {{2, "ab"}, {9, "x"}}, std::nullopt, 10}}) {
        VirtualRuntime rt;
        QObject sender;
        if (c.names.empty()) sender.setObjectName(QStringLiteral("abc"));
        Outcome out;
        spawn(rt, awaitCondition(rt, sender, out));
        double now = 0;
        for (const auto& [at, name] : c.names) {
            rt.runFor(Seconds{at - now});
            now = at;
            sender.setObjectName(QString::fromUtf8(name));
        }
        rt.runFor(Seconds{30});
        EXPECT_TRUE(out.resumed) << c.what;
        EXPECT_EQ(out.name, c.seen) << c.what;
        EXPECT_DOUBLE_EQ(out.at.count(), c.at) << c.what;
    }
}

}  // namespace
}  // namespace pexil::async
