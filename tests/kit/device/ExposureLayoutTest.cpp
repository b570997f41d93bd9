#include "kit/device/ExposureLayout.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

using PTP::DataType;
using PTP::Prop;
using Props = std::vector<Prop>;

PropDesc desc(Prop code, std::int64_t current, std::vector<std::int64_t> choices,
              bool writable = true) {
    return PropDesc{code, DataType::uint32, writable, current, std::move(choices)};
}

// A body in the given program offering every exposure control, with the standard shutter
// property only.
Descriptors standardBody(std::int64_t program) {
    Descriptors d;
    d[Prop::exposureProgram] = desc(Prop::exposureProgram, program, {1, 2, 3, 4});
    d[Prop::exposureTime] = desc(Prop::exposureTime, 40, {40, 80});
    d[Prop::fNumber] = desc(Prop::fNumber, 560, {400, 560});
    d[Prop::iso] = desc(Prop::iso, 100, {100, 200});
    d[Prop::exposureBias] = desc(Prop::exposureBias, 0, {-333, 0, 333});
    return d;
}

TEST(ExposureLayoutTest, ShutterPrefersNikonPropertyOnlyWithChoices) {
    Descriptors d = standardBody(1);
    EXPECT_EQ(ExposureLayout::shutter(d), Prop::exposureTime);
    d[Prop::nikonExposureTime] = desc(Prop::nikonExposureTime, 0x100FA, {});
    EXPECT_EQ(ExposureLayout::shutter(d), Prop::exposureTime);
    d[Prop::nikonExposureTime].choices = {0x100FA};
    EXPECT_EQ(ExposureLayout::shutter(d), Prop::nikonExposureTime);
    EXPECT_EQ(ExposureLayout::shutter({}), Prop::exposureTime);
}

TEST(ExposureLayoutTest, AdjustableByProgram) {
    EXPECT_EQ(ExposureLayout::adjustable(standardBody(1)),
              (Props{Prop::exposureTime, Prop::fNumber, Prop::iso}));
    EXPECT_EQ(ExposureLayout::adjustable(standardBody(2)), (Props{Prop::iso, Prop::exposureBias}));
    EXPECT_EQ(ExposureLayout::adjustable(standardBody(3)),
              (Props{Prop::fNumber, Prop::iso, Prop::exposureBias}));
    EXPECT_EQ(ExposureLayout::adjustable(standardBody(4)),
              (Props{Prop::exposureTime, Prop::iso, Prop::exposureBias}));
}

TEST(ExposureLayoutTest, ProgramSWithNikonShutter) {
    Descriptors d = standardBody(4);
    d[Prop::nikonExposureTime] = desc(Prop::nikonExposureTime, 0x100FA, {0x100FA, 0x101F4});
    EXPECT_EQ(ExposureLayout::adjustable(d),
              (Props{Prop::nikonExposureTime, Prop::iso, Prop::exposureBias}));
    EXPECT_EQ(ExposureLayout::cameraDecided(d), (Props{Prop::fNumber}));

    // Controls without choices drop out, keeping the order of the rest.
    d[Prop::iso].choices.clear();
    EXPECT_EQ(ExposureLayout::adjustable(d), (Props{Prop::nikonExposureTime, Prop::exposureBias}));
    d.erase(Prop::exposureBias);
    EXPECT_EQ(ExposureLayout::adjustable(d), (Props{Prop::nikonExposureTime}));
}

TEST(ExposureLayoutTest, UnknownOrMissingProgramOffersWritableControls) {
    for (const std::int64_t program : {0, 5, 0x8010}) {
        Descriptors d = standardBody(program);
        d[Prop::fNumber].writable = false;
        EXPECT_EQ(ExposureLayout::adjustable(d),
                  (Props{Prop::exposureTime, Prop::iso, Prop::exposureBias}))
            << program;
        d[Prop::iso].choices.clear();  // writable but nothing to pick
        EXPECT_EQ(ExposureLayout::adjustable(d), (Props{Prop::exposureTime, Prop::exposureBias}))
            << program;
        EXPECT_TRUE(ExposureLayout::cameraDecided(d).empty()) << program;
    }
    Descriptors d = standardBody(1);
    d.erase(Prop::exposureProgram);
    d[Prop::exposureTime].writable = false;
    EXPECT_EQ(ExposureLayout::adjustable(d), (Props{Prop::fNumber, Prop::iso, Prop::exposureBias}));
    EXPECT_TRUE(ExposureLayout::cameraDecided(d).empty());
    EXPECT_TRUE(ExposureLayout::adjustable({}).empty());
}

TEST(ExposureLayoutTest, FixedProgramsIgnoreWritability) {
    Descriptors d = standardBody(1);
    for (auto& [prop, value] : d) value.writable = false;
    EXPECT_EQ(ExposureLayout::adjustable(d), (Props{Prop::exposureTime, Prop::fNumber, Prop::iso}));
}

TEST(ExposureLayoutTest, CameraDecidedByProgram) {
    EXPECT_TRUE(ExposureLayout::cameraDecided(standardBody(1)).empty());
    EXPECT_EQ(ExposureLayout::cameraDecided(standardBody(2)),
              (Props{Prop::exposureTime, Prop::fNumber}));
    EXPECT_EQ(ExposureLayout::cameraDecided(standardBody(3)), (Props{Prop::exposureTime}));
    EXPECT_EQ(ExposureLayout::cameraDecided(standardBody(4)), (Props{Prop::fNumber}));

    // Present is enough, choices or not; absent values are left out.
    Descriptors d = standardBody(2);
    d[Prop::exposureTime].choices.clear();
    d.erase(Prop::fNumber);
    EXPECT_EQ(ExposureLayout::cameraDecided(d), (Props{Prop::exposureTime}));
}

TEST(ExposureLayoutTest, MeterMeaningfulOnlyInManual) {
    EXPECT_TRUE(ExposureLayout::meterMeaningful(standardBody(1)));
    for (const std::int64_t program : {0, 2, 3, 4, 0x8010})
        EXPECT_FALSE(ExposureLayout::meterMeaningful(standardBody(program))) << program;
    EXPECT_FALSE(ExposureLayout::meterMeaningful({}));
}

}  // namespace
}  // namespace pexil
