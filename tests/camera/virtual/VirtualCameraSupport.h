#pragma once

#include "camera/virtual/BodyClock.h"
#include "camera/virtual/VirtualCamera.h"
#include "kit/async/VirtualRuntime.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPCodes.h"
#include "kit/ptp/PTPEvent.h"
#include "support/VirtualTime.h"

#include <QDateTime>

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace pexil::testing {

// The computer's clock in these tests: fixed, so that dates come out exactly.
inline QDateTime fixedNow() {
    return QDateTime(QDate(2024, 6, 1), QTime(12, 0, 0));
}

// Records a data phase as it arrives: the announced total and every piece.
class RecordingSink final : public camera::DataSink {
public:
    bool begin(std::optional<std::uint64_t> total) override {
        began = true;
        announced = total;
        return acceptBegin;
    }
    bool write(ByteView piece) override {
        pieces.push_back(piece.size());
        data.insert(data.end(), piece.begin(), piece.end());
        return true;
    }

    bool acceptBegin = true;
    bool began = false;
    std::optional<std::uint64_t> announced;
    std::vector<std::size_t> pieces;
    Bytes data;
};

struct Answer {
    std::uint16_t code = 0;
    std::vector<std::uint32_t> params;
    Bytes data;
};

// One transaction against the camera; a TransportError fails the test.
inline Answer call(camera::VirtualCamera& cam, std::uint16_t code,
                   std::vector<std::uint32_t> params = {},
                   std::optional<Bytes> out = std::nullopt) {
    static std::uint32_t transaction = 100;
    RecordingSink sink;
    const camera::Operation op{code, ++transaction, std::move(params)};
    const auto result =
        out ? cam.handle(op, ByteView(*out), sink) : cam.handle(op, std::nullopt, sink);
    if (!result.ok()) {
        ADD_FAILURE() << "transport error for 0x" << std::hex << code << ": "
                      << result.error().message.toStdString();
        return {};
    }
    EXPECT_EQ(result.value().transactionId, op.transactionId);
    return {result.value().code, result.value().params, std::move(sink.data)};
}

inline camera::VirtualCamera::Options quickOptions(QString model = QStringLiteral("d850")) {
    camera::VirtualCamera::Options options;
    options.model = model;
    options.wallClock = fixedNow;
    // The body's time stands still until a test advances it: see clockOf().
    options.clock = std::make_shared<camera::ManualBodyClock>();
    options.timings.capture = std::chrono::milliseconds(15);
    options.timings.autofocus = std::chrono::milliseconds(40);
    options.timings.liveViewStart = std::chrono::milliseconds(40);
    // A frame as soon as it is asked for: a paced one would wait for time that only the test
    // moves.
    options.liveViewFps = 0;
    return options;
}

inline std::shared_ptr<camera::VirtualCamera> makeCamera(camera::VirtualCamera::Options options) {
    auto made = camera::VirtualCamera::create(std::move(options));
    if (!made.ok()) {
        ADD_FAILURE() << made.error().toStdString();
        return nullptr;
    }
    return made.value();
}

inline std::shared_ptr<camera::VirtualCamera> openedCamera(camera::VirtualCamera::Options options) {
    auto cam = makeCamera(std::move(options));
    if (cam) {
        EXPECT_EQ(call(*cam, PTP::code(PTP::Op::openSession), {1}).code,
                  PTP::code(PTP::Response::ok));
    }
    return cam;
}

inline camera::VirtualCamera::Options quickOptions(camera::VirtualBody body) {
    return quickOptions(camera::virtualBodyName(body));
}

// The clock that quickOptions() gives the camera.
inline camera::ManualBodyClock& clockOf(const camera::VirtualCamera::Options& options) {
    return static_cast<camera::ManualBodyClock&>(*options.clock);
}

// Lets every busy period pass (the camera's clock moves on by `by`), waits (bounded) until the
// body has finished the pictures under way, and gives DeviceReady's answer.
inline std::uint16_t waitUntilReady(camera::VirtualCamera& cam, camera::ManualBodyClock& clock,
                                    std::chrono::milliseconds by = std::chrono::seconds(1)) {
    clock.advance(by);
    EXPECT_TRUE(cam.waitUntilIdle(std::chrono::seconds(20)));
    return call(cam, PTP::code(PTP::Op::nikonDeviceReady)).code;
}

// The next event of the event stream, parsed; none after `timeout`.
inline std::optional<PTPEvent> nextEvent(
    camera::VirtualCamera& cam, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    const auto got = cam.waitEvent(timeout);
    if (!got.ok() || !got.value()) return std::nullopt;
    EXPECT_EQ(got.value()->size(), 16U);
    return PTPEvent::container(*got.value());
}

// Every event of the stream until it stays quiet for `quiet`.
inline std::vector<PTPEvent> drainEvents(
    camera::VirtualCamera& cam, std::chrono::milliseconds quiet = std::chrono::milliseconds(50)) {
    std::vector<PTPEvent> out;
    while (const auto event = nextEvent(cam, quiet)) out.push_back(*event);
    return out;
}

inline Bytes u8(std::uint8_t v) {
    return Bytes{v};
}
inline Bytes u16(std::uint16_t v) {
    Bytes out;
    PTP::appendLE(out, v);
    return out;
}
inline Bytes u32(std::uint32_t v) {
    Bytes out;
    PTP::appendLE(out, v);
    return out;
}

// The handles of a GetObjectHandles data phase.
inline std::vector<std::uint32_t> handleList(const Bytes& data) {
    std::vector<std::uint32_t> out;
    if (data.size() < 4) return out;
    const std::uint32_t n =
        data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    for (std::uint32_t i = 0; i < n && 4 + 4 * (i + 1) <= data.size(); ++i) {
        const std::size_t at = 4 + 4 * i;
        out.push_back(data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
                      (static_cast<std::uint32_t>(data[at + 3]) << 24));
    }
    return out;
}

// Width and height from a JPEG's header; none when it does not decode.
inline std::optional<std::pair<int, int>> jpegSize(ByteView jpeg) {
    tjhandle tj = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const int status = tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                           &width, &height, &subsampling, &colorspace);
    tjDestroy(tj);
    if (status != 0) return std::nullopt;
    return std::pair{width, height};
}

}  // namespace pexil::testing
