// Exposure brackets: the values chosen on real bodies' tables, the order of the shots, the
// setting put back however the bracket ends, and the waits on the virtual clock.
#include "app/capture/ExposureBracket.h"
#include "kit/async/Sleep.h"
#include "kit/async/VirtualRuntime.h"

#include <gtest/gtest.h>

#include <vector>

namespace pexil {
namespace {

using PTP::Prop;

// The D850's compensation choices: ±5 EV in thirds.
std::vector<std::int64_t> thirdsBias() {
    std::vector<std::int64_t> out;
    for (int i = -15; i <= 15; ++i) out.push_back(i * 1000 / 3);
    return out;
}

PropDesc desc(Prop code, std::int64_t current, std::vector<std::int64_t> choices,
              bool writable = true) {
    PropDesc d;
    d.code = code;
    d.dataType = PTP::DataType::uint32;
    d.writable = writable;
    d.current = current;
    d.choices = std::move(choices);
    d.vendor = 0x0000000A;
    return d;
}

Descriptors camera(std::int64_t program, std::vector<PropDesc> descs) {
    Descriptors out;
    out[Prop::exposureProgram] = desc(Prop::exposureProgram, program, {1, 2, 3, 4});
    for (auto& d : descs) out[d.code] = std::move(d);
    return out;
}

std::int64_t nikonTime(std::uint32_t numerator, std::uint32_t denominator) {
    return static_cast<std::int64_t>((numerator << 16) | denominator);
}

TEST(ExposureBracket, ResolvesStepsOnTheCamerasOwnValuesOrSaysWhyNot) {
    const std::vector<std::int64_t> speeds{10, 20, 40, 80, 125, 166, 4294967295};
    const std::vector<std::int64_t> nikonSpeeds{nikonTime(1, 500), nikonTime(1, 250),
                                                nikonTime(1, 125), nikonTime(1, 60),
                                                nikonTime(1, 30),  static_cast<std::uint32_t>(-1)};
    struct Case {
        const char* name;
        Descriptors props;
        ExposureBracket::Plan plan;
        Prop prop;
        std::vector<std::int64_t> values;  // empty: refused with `error`
        const char* error = "";
    };
    const std::vector<Case> cases{
        {"compensation, five by thirds from 0",
         camera(3, {desc(Prop::exposureBias, 0, thirdsBias())}),
         {5, 1.0 / 3},
         Prop::exposureBias,
         {0, -333, 333, -666, 666}},
        {"compensation, three by 1 EV from +1/3",
         camera(2, {desc(Prop::exposureBias, 333, thirdsBias())}),
         {3, 1},
         Prop::exposureBias,
         {333, -666, 1333}},
        {"compensation beyond the camera's range",
         camera(3, {desc(Prop::exposureBias, 4666, thirdsBias())}),
         {3, 1},
         Prop::exposureBias,
         {},
         "露出補正 +1 EV"},
        {"half steps on a camera set to thirds",
         camera(3, {desc(Prop::exposureBias, 0, thirdsBias())}),
         {3, 0.5},
         Prop::exposureBias,
         {},
         "に当たる値がこのカメラにありません"},
        {"manual: the standard shutter property, longer is over",
         camera(1,
                {desc(Prop::exposureTime, 40, speeds), desc(Prop::exposureBias, 0, thirdsBias())}),
         {3, 1},
         Prop::exposureTime,
         {40, 20, 80}},
        {"manual: Nikon's fractions win over the standard property",
         camera(1, {desc(Prop::exposureTime, 40, speeds),
                    desc(Prop::nikonExposureTime, nikonTime(1, 125), nikonSpeeds)}),
         {5, 1},
         Prop::nikonExposureTime,
         {nikonTime(1, 125), nikonTime(1, 250), nikonTime(1, 60), nikonTime(1, 500),
          nikonTime(1, 30)}},
        {"manual on Bulb",
         camera(1, {desc(Prop::exposureTime, 4294967295, speeds)}),
         {3, 1},
         Prop::exposureTime,
         {},
         "シャッタースピードが Bulb のままでは"},
        {"compensation locked",
         camera(2, {desc(Prop::exposureBias, 0, thirdsBias(), false)}),
         {3, 1.0 / 3},
         Prop::exposureBias,
         {},
         "露出補正 を変更できない"},
        {"an even count",
         camera(2, {desc(Prop::exposureBias, 0, thirdsBias())}),
         {4, 1},
         Prop::exposureBias,
         {},
         "枚数は 3、5、7、9 枚"},
        {"a step of 2 EV",
         camera(2, {desc(Prop::exposureBias, 0, thirdsBias())}),
         {3, 2},
         Prop::exposureBias,
         {},
         "刻みは"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto resolved = ExposureBracket::resolve(c.props, c.plan);
        if (c.values.empty()) {
            ASSERT_FALSE(resolved);
            EXPECT_TRUE(resolved.error().contains(QString::fromUtf8(c.error)))
                << resolved.error().toStdString();
            continue;
        }
        ASSERT_TRUE(resolved) << resolved.error().toStdString();
        EXPECT_EQ(resolved.value().prop, c.prop);
        std::vector<std::int64_t> values;
        for (const auto& step : resolved.value().steps) values.push_back(step.value);
        EXPECT_EQ(values, c.values);
    }
}

TEST(ExposureBracket, OffsetsReadAsFractionsOfAStop) {
    const std::vector<std::pair<double, const char*>> cases{
        {0, "±0"},     {1.0 / 3, "+1/3 EV"}, {-2.0 / 3, "−2/3 EV"},
        {-1, "−1 EV"}, {1.5, "+1 1/2 EV"},   {4.0 / 3, "+1 1/3 EV"},
    };
    for (const auto& [ev, text] : cases)
        EXPECT_EQ(ExposureBracket::offsetText(ev), QString::fromUtf8(text)) << ev;
}

struct Rig {
    Rig() {
        props = camera(3, {desc(Prop::exposureBias, 333, thirdsBias())});
        ExposureBracket::Camera cam;
        cam.props = [this]() -> const Descriptors& { return props; };
        cam.write = [this](Prop prop, std::int64_t value) -> async::Task<bool> {
            co_await async::sleep(0.2);
            writes.push_back(value);
            if (refuse == value) co_return false;
            props[prop].current = value;
            co_return true;
        };
        cam.shoot = [this]() -> async::Task<bool> {
            shot.push_back(props[Prop::exposureBias].current);
            co_await async::sleep(1);
            co_return true;
        };
        cam.bufferFull = [this] { return full; };
        bracket = std::make_unique<ExposureBracket>(rt, std::move(cam));
    }
    async::VirtualRuntime rt;
    Descriptors props;
    std::vector<std::int64_t> writes;
    std::vector<std::int64_t> shot;
    std::int64_t refuse = 99999;
    bool full = false;
    std::unique_ptr<ExposureBracket> bracket;
};

TEST(ExposureBracket, ShootsEachStepThenPutsTheSettingBack) {
    Rig r;
    std::vector<QString> offsets;
    QObject::connect(r.bracket.get(), &ExposureBracket::shotTaken,
                     [&](int, const QString& offset) { offsets.push_back(offset); });
    const auto summary = r.rt.run(r.bracket->run({3, 1}));
    ASSERT_TRUE(summary);
    EXPECT_EQ(*summary, QString::fromUtf8("ブラケット撮影: 3 枚撮りました（1 EV 刻み）。"));
    // The first shot needs no write: the camera already holds the metered value.
    EXPECT_EQ(r.shot, (std::vector<std::int64_t>{333, -666, 1333}));
    EXPECT_EQ(r.writes.back(), 333);
    EXPECT_EQ(r.props[Prop::exposureBias].current, 333);
    EXPECT_EQ(offsets, (std::vector<QString>{QStringLiteral("±0"), QStringLiteral("−1 EV"),
                                             QStringLiteral("+1 EV")}));
    EXPECT_FALSE(r.bracket->running());
}

TEST(ExposureBracket, StopsCleanlyOnCancelARefusalOrAFullBuffer) {
    {
        SCOPED_TRACE("cancelled after the first shot");
        Rig r;
        QString summary;
        QObject::connect(r.bracket.get(), &ExposureBracket::finished,
                         [&](const QString& text) { summary = text; });
        r.bracket->start({5, 1.0 / 3});
        r.rt.runFor(async::Seconds(1.3));
        EXPECT_EQ(r.bracket->progressText(),
                  QString::fromUtf8("露出ブラケット 1 / 5 枚　次 −1/3 EV"));
        r.bracket->cancel();
        r.rt.runFor(async::Seconds(10));
        EXPECT_EQ(summary, QString::fromUtf8("ブラケット撮影を止めました（1 / 5 枚）。"));
        EXPECT_EQ(r.shot.size(), 1u);
        EXPECT_EQ(r.props[Prop::exposureBias].current, 333);
    }
    {
        SCOPED_TRACE("the camera refuses a step");
        Rig r;
        r.refuse = -666;
        const auto summary = r.rt.run(r.bracket->run({3, 1}));
        ASSERT_TRUE(summary);
        EXPECT_EQ(*summary, QString::fromUtf8(
                                "ブラケット撮影: −0.7 にできなかったので止めました（1 / 3 枚）。"));
        EXPECT_EQ(r.props[Prop::exposureBias].current, 333);
    }
    {
        SCOPED_TRACE("the buffer stays full");
        Rig r;
        r.full = true;
        const double start = r.rt.clock().monotonic().count();
        const auto summary = r.rt.run(r.bracket->run({3, 1}));
        ASSERT_TRUE(summary);
        EXPECT_TRUE(summary->contains(QString::fromUtf8("バッファが空かない")))
            << summary->toStdString();
        EXPECT_NEAR(r.rt.clock().monotonic().count() - start, 120.2, 1e-3);
        EXPECT_TRUE(r.shot.empty());
    }
}

}  // namespace
}  // namespace pexil
