#include "app/shots/ShotMeta.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>

namespace pexil {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct ShutterCase {
    std::optional<double> seconds;
    std::optional<QString> text;
};

TEST(ShotMeta, ShutterText) {
    const ShutterCase cases[] = {
        {0.004, QStringLiteral("1/250")},
        {0.3, QStringLiteral("1/3")},
        {1.0 / 8000, QStringLiteral("1/8000")},
        {0.5, QStringLiteral("1/2")},
        // Fractional steps below 1/3 s keep their fraction.
        {10.0 / 13, QStringLiteral("1/1.3")},
        {0.625, QStringLiteral("1/1.6")},
        {0.4, QStringLiteral("1/2.5")},
        {1.0, QStringLiteral("1.0\"")},
        {2.0, QStringLiteral("2.0\"")},
        {2.5, QStringLiteral("2.5\"")},
        {30.0, QStringLiteral("30.0\"")},
        {std::nullopt, std::nullopt},
        // A damaged file: none of these is a shutter time, and each would divide by zero,
        // print "-1/…" or turn infinity into an integer.
        {0.0, std::nullopt},
        {-0.004, std::nullopt},
        {-2.0, std::nullopt},
        {nan, std::nullopt},
        {inf, std::nullopt},
        {-inf, std::nullopt},
        {std::numeric_limits<double>::denorm_min(), std::nullopt},
    };
    for (const auto& c : cases) {
        ShotMeta meta;
        meta.exposureTime = c.seconds;
        EXPECT_EQ(meta.shutterText(), c.text) << (c.seconds ? *c.seconds : -999);
    }
}

struct SummaryCase {
    std::optional<double> seconds;
    std::optional<double> fNumber;
    std::optional<int> iso;
    QString summary;
};

TEST(ShotMeta, Summary) {
    const SummaryCase cases[] = {
        {0.004, 5.6, 400, QStringLiteral("1/250  f/5.6  ISO 400")},
        {std::nullopt, 11.0, std::nullopt, QStringLiteral("f/11")},
        {std::nullopt, 4.0, std::nullopt, QStringLiteral("f/4")},
        {std::nullopt, 1.8, std::nullopt, QStringLiteral("f/1.8")},
        {std::nullopt, 7.1, std::nullopt, QStringLiteral("f/7.1")},
        {std::nullopt, 5.64, std::nullopt, QStringLiteral("f/5.6")},
        {std::nullopt, 7.96, std::nullopt, QStringLiteral("f/8")},
        {2.0, std::nullopt, 100, QStringLiteral("2.0\"  ISO 100")},
        {std::nullopt, std::nullopt, 6400, QStringLiteral("ISO 6400")},
        {std::nullopt, std::nullopt, std::nullopt, QString()},
        // Damaged values are left out as if absent; the rest of the line stays.
        {0.0, 0.0, 200, QStringLiteral("ISO 200")},
        {nan, -2.8, std::nullopt, QString()},
        {inf, inf, 100, QStringLiteral("ISO 100")},
        {0.01, nan, std::nullopt, QStringLiteral("1/100")},
    };
    for (const auto& c : cases) {
        ShotMeta meta;
        meta.exposureTime = c.seconds;
        meta.fNumber = c.fNumber;
        meta.iso = c.iso;
        EXPECT_EQ(meta.summary(), c.summary) << c.summary.toStdString();
    }
}

}  // namespace
}  // namespace pexil
