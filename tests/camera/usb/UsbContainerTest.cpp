#include "camera/usb/UsbContainer.h"

#include <gtest/gtest.h>

namespace pexil::camera {
namespace {

namespace C = UsbContainer;

TEST(UsbContainer, FramesCommandAndDataHeaders) {
    EXPECT_EQ(
        C::command({0x1009, 0x01020304, {0xAABBCCDD}}),
        (Bytes{0x10, 0, 0, 0, 1, 0, 0x09, 0x10, 0x04, 0x03, 0x02, 0x01, 0xDD, 0xCC, 0xBB, 0xAA}));
    // Six parameters cannot be framed; the container keeps five.
    EXPECT_EQ(C::command({0x1001, 1, {1, 2, 3, 4, 5, 6}}).size(), 32U);

    EXPECT_EQ(C::dataHeader(0x1016, 7, 500),
              (Bytes{0x00, 0x02, 0, 0, 2, 0, 0x16, 0x10, 7, 0, 0, 0}));
    // The largest length that fits, then the marker for "read to the short packet".
    EXPECT_EQ(C::dataHeader(0x1009, 1, 0xFFFFFFFEULL - 12),
              (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 2, 0, 0x09, 0x10, 1, 0, 0, 0}));
    for (const std::uint64_t size : {0xFFFFFFFFULL - 12, 0xFFFFFFFFULL, 5ULL << 30})
        EXPECT_EQ(C::parseHeader(C::dataHeader(0x1009, 1, size))->length, C::unknownLength) << size;

    EXPECT_EQ(C::cancelData(0x01020304), (Bytes{0x01, 0x40, 0x04, 0x03, 0x02, 0x01}));
}

TEST(UsbContainer, ReadsResponsesWithinTheirBounds) {
    const Bytes withParams{0x14, 0, 0, 0, 3, 0, 0x01, 0x20, 5, 0, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0};
    EXPECT_EQ(C::parseResponse(withParams), (Response{0x2001, 5, {7, 8}}));
    // Bytes after the announced length belong to nobody.
    Bytes trailing = withParams;
    trailing.insert(trailing.end(), {9, 9, 9, 9});
    EXPECT_EQ(C::parseResponse(trailing), (Response{0x2001, 5, {7, 8}}));
    // A padded length: the stray bytes are no parameter.
    EXPECT_EQ(C::parseResponse(Bytes{0x0E, 0, 0, 0, 3, 0, 0x19, 0x20, 1, 0, 0, 0, 0, 0}),
              (Response{0x2019, 1, {}}));

    const std::vector<Bytes> refused = {
        {},
        {0x0C, 0, 0, 0, 3, 0, 0x01, 0x20, 1, 0, 0},     // cut short
        {0x10, 0, 0, 0, 3, 0, 0x01, 0x20, 1, 0, 0, 0},  // longer than the bytes
        {0x0B, 0, 0, 0, 3, 0, 0x01, 0x20, 1, 0, 0, 0},  // shorter than a header
        {0x0C, 0, 0, 0, 2, 0, 0x01, 0x20, 1, 0, 0, 0},  // a data container
        {0x24, 0, 0, 0, 3, 0, 0x01, 0x20, 1, 0, 0, 0},  // more than five parameters
    };
    for (const auto& bytes : refused) EXPECT_FALSE(C::parseResponse(bytes)) << bytes.size();
}

TEST(UsbContainer, CutsEventsToTheirLengthAndRefusesOtherContainers) {
    const Bytes event{0x10, 0, 0, 0, 4, 0, 0x02, 0x40, 0, 0, 0, 0, 0x34, 0x12, 0, 0};
    Bytes padded = event;
    padded.resize(64, 0xEE);
    EXPECT_EQ(C::parseEvent(padded), event);
    EXPECT_FALSE(C::parseEvent(Bytes(event.begin(), event.end() - 1)));
    Bytes response = event;
    response[4] = 3;
    EXPECT_FALSE(C::parseEvent(response));
    Bytes huge = padded;
    huge[0] = 0x40;
    EXPECT_FALSE(C::parseEvent(huge));
}

TEST(UsbContainer, ReadsDeviceStatusAsFarAsItGoes) {
    EXPECT_EQ(C::parseDeviceStatus(Bytes{0x0C, 0, 0x01, 0x20, 0x81, 0, 0, 0, 0x02, 0, 0, 0}),
              (C::DeviceStatus{0x2001, {0x81, 0x02}}));
    // wLength beyond the bytes received: only whole parameters that arrived count.
    EXPECT_EQ(C::parseDeviceStatus(Bytes{0x14, 0, 0x19, 0x20, 0x81, 0, 0, 0, 0x02, 0}),
              (C::DeviceStatus{0x2019, {0x81}}));
    // wLength shorter than the bytes: the rest is ignored.
    EXPECT_EQ(C::parseDeviceStatus(Bytes{0x04, 0, 0x01, 0x20, 0x81, 0, 0, 0}),
              (C::DeviceStatus{0x2001, {}}));
    EXPECT_FALSE(C::parseDeviceStatus(Bytes{0x04, 0, 0x01}));
    EXPECT_FALSE(C::parseDeviceStatus(Bytes{0x02, 0, 0x01, 0x20}));
}

TEST(UsbContainer, DecodesStringDescriptorsDefensively) {
    const Bytes d850{10, 3, 'D', 0, '8', 0, '5', 0, '0', 0};
    EXPECT_EQ(C::parseStringDescriptor(d850), QStringLiteral("D850"));
    // bLength past the received bytes, and an odd bLength: only whole units inside both.
    EXPECT_EQ(C::parseStringDescriptor(Bytes{40, 3, 'Z', 0, '6', 0}), QStringLiteral("Z6"));
    EXPECT_EQ(C::parseStringDescriptor(Bytes{5, 3, 'Z', 0, '6', 0}), QStringLiteral("Z"));
    // An unpaired surrogate is replaced, not passed on.
    EXPECT_EQ(C::parseStringDescriptor(Bytes{6, 3, 0x00, 0xD8, 'A', 0}), QStringLiteral("\uFFFDA"));
    EXPECT_EQ(C::parseStringDescriptor(Bytes{2, 3}), QString());
    EXPECT_FALSE(C::parseStringDescriptor(Bytes{10, 2, 'D', 0}));
    EXPECT_FALSE(C::parseStringDescriptor(Bytes{1, 3}));
    EXPECT_FALSE(C::parseStringDescriptor(Bytes{}));

    EXPECT_EQ(C::parseFirstLanguage(Bytes{4, 3, 0x09, 0x04}), 0x0409);
    EXPECT_FALSE(C::parseFirstLanguage(Bytes{2, 3}));
    EXPECT_FALSE(C::parseFirstLanguage(Bytes{4, 3, 0x09}));
}

}  // namespace
}  // namespace pexil::camera
