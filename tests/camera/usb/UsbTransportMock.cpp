// PTP over USB through the real libusb and usbdevfs ioctls, against a scripted camera in a
// umockdev testbed. Runs under umockdev-wrapper (see Extra.cmake).

#include "camera/usb/UdevRule.h"
#include "camera/usb/UsbTransport.h"
#include "kit/device/DeviceInfo.h"
#include "support/Datasets.h"

#include "UsbTestbed.h"

#include <QFile>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

namespace pexil::camera {
namespace {

using namespace std::chrono_literals;
using testing::container;
using testing::FakeUsbCamera;
using testing::UsbTestbed;

constexpr std::uint16_t ok = 0x2001;

// Records the data phase as the transport hands it over; can refuse part-way.
class RecordingSink final : public DataSink {
public:
    bool begin(std::optional<std::uint64_t> total) override {
        begun = true;
        announced = total;
        return true;
    }
    bool write(ByteView piece) override {
        ++writes;
        largest = std::max(largest, piece.size());
        if (refuseAtWrite == writes) return false;
        data.insert(data.end(), piece.begin(), piece.end());
        return true;
    }
    bool begun = false;
    std::optional<std::uint64_t> announced;
    Bytes data;
    std::size_t largest = 0;
    int writes = 0;
    int refuseAtWrite = 0;
};

Bytes pattern(std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>((i * 7 + i / 251) & 0xFF);
    return out;
}

std::vector<std::size_t> sizes(const std::vector<Bytes>& transfers) {
    std::vector<std::size_t> out;
    for (const auto& t : transfers) out.push_back(t.size());
    return out;
}

std::vector<std::uint8_t> requests(const std::vector<FakeUsbCamera::Control>& controls) {
    std::vector<std::uint8_t> out;
    for (const auto& c : controls)
        if ((c.requestType & 0x60) == 0x20) out.push_back(c.request);  // class requests only
    return out;
}

UsbTransportOptions quick() {
    UsbTransportOptions options;
    options.transferTimeout = 300ms;
    options.recoveryTimeout = 300ms;
    options.chunkSize = 16384;
    return options;
}

class UsbTransportTest : public ::testing::Test {
protected:
    void SetUp() override { added = testbed.add({}, &camera); }

    std::unique_ptr<UsbTransport> open(UsbTransportOptions options = quick()) {
        auto transport = std::make_unique<UsbTransport>(UsbAddress{1, 5}, options);
        const auto connected = transport->connect();
        EXPECT_TRUE(connected) << connected.error().message.toStdString();
        return transport;
    }

    // A short transaction that must go through: the pipes are in step again.
    void expectWorking(UsbTransport& transport, std::uint32_t transactionId) {
        camera.expect({.command = container(1, 0x1001, transactionId),
                       .replies = {container(2, 0x1001, transactionId, {}, testing::deviceInfo()),
                                   container(3, ok, transactionId)}});
        BufferSink sink;
        const auto result = transport.transact({0x1001, transactionId, {}}, std::nullopt, sink);
        ASSERT_TRUE(result) << result.error().message.toStdString();
        EXPECT_EQ(result.value().code, ok);
        EXPECT_TRUE(DeviceInfo::parse(sink.data()));
    }

    // Declared first, destroyed last: the testbed's ioctl thread stops before the fake goes.
    FakeUsbCamera camera;
    UsbTestbed testbed;
    UsbTestbed::Added added;
};

TEST_F(UsbTransportTest, OpensASessionAndReadsTheDeviceInfo) {
    camera.expect({.command = container(1, 0x1002, 0, {1}), .replies = {container(3, ok, 0)}});
    camera.expect(
        {.command = container(1, 0x1001, 1),
         .replies = {container(2, 0x1001, 1, {}, testing::deviceInfo()), container(3, ok, 1)}});
    auto transport = open();
    EXPECT_EQ(camera.claims(), 1);
    EXPECT_EQ(transport->maxPacketSize(), 512U);

    BufferSink nothing;
    const auto opened = transport->transact({0x1002, 0, {1}}, std::nullopt, nothing);
    ASSERT_TRUE(opened) << opened.error().message.toStdString();
    EXPECT_EQ(opened.value(), (Response{ok, 0, {}}));
    EXPECT_TRUE(nothing.data().empty());

    BufferSink sink;
    const auto info = transport->transact({0x1001, 1, {}}, std::nullopt, sink);
    ASSERT_TRUE(info) << info.error().message.toStdString();
    EXPECT_EQ(info.value(), (Response{ok, 1, {}}));
    const auto parsed = DeviceInfo::parse(sink.data());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->manufacturer, QStringLiteral("Nikon Corporation"));
    EXPECT_EQ(parsed->model, QStringLiteral("D850"));
    EXPECT_EQ(parsed->serialNumber, QStringLiteral("3000123"));
    EXPECT_EQ(parsed->vendor, 6U);
    EXPECT_NE(std::find(parsed->operations.begin(), parsed->operations.end(), 0x90C7),
              parsed->operations.end());

    // The command container as PTP over USB frames it: length, type 1, code, ID, parameter.
    const auto out = camera.bulkOut();
    ASSERT_EQ(out.size(), 2U);
    EXPECT_EQ(out[0], (Bytes{0x10, 0, 0, 0, 0x01, 0, 0x02, 0x10, 0, 0, 0, 0, 0x01, 0, 0, 0}));
    EXPECT_EQ(out[1], (Bytes{0x0C, 0, 0, 0, 0x01, 0, 0x01, 0x10, 0x01, 0, 0, 0}));
    EXPECT_TRUE(camera.problems().empty());
    EXPECT_EQ(camera.remaining(), 0U);
}

struct InCase {
    std::size_t payload;
    bool zeroLengthPacket;
};

class UsbDataInTest : public UsbTransportTest, public ::testing::WithParamInterface<InCase> {};

// Whether the container ends inside a packet, exactly on a packet boundary (with or without
// the device's zero-length packet), or spans several transfers, the sink gets exactly the
// payload in bounded pieces, the response is read whole, and the next transaction works.
TEST_P(UsbDataInTest, StreamsTheDataPhaseAndStaysInStep) {
    const auto [size, zlp] = GetParam();
    camera.setZeroLengthPackets(zlp);
    const Bytes payload = pattern(size);
    camera.expect({.command = container(1, 0x1009, 2, {0x1234}),
                   .replies = {container(2, 0x1009, 2, {}, payload), container(3, ok, 2, {7, 8})}});
    auto transport = open();

    RecordingSink sink;
    const auto result = transport->transact({0x1009, 2, {0x1234}}, std::nullopt, sink);
    ASSERT_TRUE(result) << result.error().message.toStdString();
    EXPECT_EQ(result.value(), (Response{ok, 2, {7, 8}}));
    EXPECT_EQ(sink.announced, std::optional<std::uint64_t>(size));
    EXPECT_TRUE(sink.data == payload);
    EXPECT_LE(sink.largest, 16384U);
    expectWorking(*transport, 3);
    EXPECT_TRUE(camera.problems().empty());
}

INSTANTIATE_TEST_SUITE_P(Boundaries, UsbDataInTest,
                         ::testing::Values(InCase{100, true}, InCase{500, true}, InCase{500, false},
                                           InCase{40948, true}, InCase{40948, false},
                                           InCase{40000, true}, InCase{0, true}),
                         [](const ::testing::TestParamInfo<InCase>& info) {
                             return "payload" + std::to_string(info.param.payload) +
                                    (info.param.zeroLengthPacket ? "_zlp" : "_noZlp");
                         });

TEST_F(UsbTransportTest, ReadsADataPhaseOfUnknownLengthToTheShortPacket) {
    // Beyond 4 GiB the length field says 0xFFFFFFFF; the end is the first short transfer.
    for (const std::size_t size : {20000U, 2U * 16384U - 12U}) {
        const Bytes payload = pattern(size);
        Bytes data = container(2, 0x1009, 4, {}, payload);
        std::fill_n(data.begin(), 4, 0xFF);
        const std::uint32_t id = size == 20000U ? 4 : 5;
        data[8] = static_cast<std::uint8_t>(id);
        camera.expect(
            {.command = container(1, 0x1009, id, {9}), .replies = {data, container(3, ok, id)}});
    }
    auto transport = open();
    for (const std::uint32_t id : {4U, 5U}) {
        RecordingSink sink;
        const auto result = transport->transact({0x1009, id, {9}}, std::nullopt, sink);
        ASSERT_TRUE(result) << result.error().message.toStdString();
        EXPECT_TRUE(sink.begun);
        EXPECT_EQ(sink.announced, std::nullopt);
        EXPECT_TRUE(sink.data == pattern(id == 4 ? 20000U : 2U * 16384U - 12U));
    }
}

// The host's data phase: header and first bytes together, whole-packet chunks, and a
// zero-length packet exactly when the container ends on a packet boundary.
TEST_F(UsbTransportTest, SendsTheHostDataPhaseWithAZeroLengthPacketOnlyOnAPacketBoundary) {
    struct Case {
        std::size_t payload;
        std::vector<std::size_t> transfers;  // after the 16-byte command
    };
    const std::vector<Case> cases = {
        {500, {512, 0}},
        {100, {112}},
        {40000, {16384, 16384, 7244}},
        {40948, {16384, 16384, 8192, 0}},
    };
    std::uint32_t id = 10;
    for (const auto& c : cases) {
        const Bytes payload = pattern(c.payload);
        camera.expect({.command = container(1, 0x1016, id, {0x5011}),
                       .data = container(2, 0x1016, id, {}, payload),
                       .replies = {container(3, ok, id)}});
        ++id;
    }
    auto transport = open();
    id = 10;
    for (const auto& c : cases) {
        const auto before = camera.bulkOut().size();
        const Bytes payload = pattern(c.payload);
        BufferSink sink;
        const auto result = transport->transact({0x1016, id, {0x5011}}, ByteView(payload), sink);
        ASSERT_TRUE(result) << result.error().message.toStdString();
        EXPECT_EQ(result.value().code, ok);
        const auto out = camera.bulkOut();
        std::vector<std::size_t> sent = sizes(out);
        sent.erase(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(before) + 1);
        EXPECT_EQ(sent, c.transfers) << "payload " << c.payload;
        ++id;
    }
    EXPECT_TRUE(camera.problems().empty());
    EXPECT_EQ(camera.remaining(), 0U);
}

TEST_F(UsbTransportTest, ExplainsAMissingPermissionWithTheUdevRule) {
    const std::string node = testbed.root() + added.node;
    ASSERT_EQ(chmod(node.c_str(), 0), 0);
    std::optional<Result<Done, TransportError>> result;
    {
        testing::WithoutFileOverride asUser;
        UsbTransport transport({1, 5}, quick());
        result = transport.connect();
    }
    chmod(node.c_str(), 0644);
    ASSERT_FALSE(*result);
    const std::string message = result->error().message.toStdString();
    EXPECT_NE(message.find("権限"), std::string::npos) << message;
    // The hint is for an installed Pexil: nothing of the source tree, and the command for
    // the rule this machine has or lacks.
    EXPECT_EQ(message.find("packaging/"), std::string::npos) << message;
    EXPECT_EQ(result->error().message, UdevRule::permissionHint(UdevRule::installed()));
    EXPECT_EQ(camera.claims(), 0);

    // The shipped rule and the one the install command writes grant what the transport needs.
    QFile rule(QStringLiteral(PEXIL_SOURCE_DIR "/packaging/udev/") + UdevRule::fileName);
    ASSERT_TRUE(rule.open(QIODevice::ReadOnly));
    const QString shipped = QString::fromUtf8(rule.readAll());
    for (const QString& rules : {shipped, UdevRule::installCommand()}) {
        EXPECT_TRUE(rules.contains(QStringLiteral("ENV{ID_USB_INTERFACES}==\"*:0601??:*\"")));
        EXPECT_TRUE(rules.contains(QStringLiteral("TAG+=\"uaccess\"")));
        EXPECT_TRUE(rules.contains(QStringLiteral("ATTR{idVendor}==\"04b0\"")));
    }
}

TEST_F(UsbTransportTest, ExplainsACameraHeldByTheVolumeMonitor) {
    camera.setClaimErrno(EBUSY);
    UsbTransport transport({1, 5}, quick());
    const auto result = transport.connect();
    ASSERT_FALSE(result);
    const std::string message = result.error().message.toStdString();
    EXPECT_NE(message.find("gvfs"), std::string::npos) << message;
    EXPECT_NE(message.find("gio mount -s gphoto2"), std::string::npos) << message;
    EXPECT_NE(message.find("gvfs-gphoto2-volume-monitor"), std::string::npos) << message;
    // Nothing can be sent over a link that never opened.
    BufferSink sink;
    EXPECT_FALSE(transport.transact({0x1002, 0, {1}}, std::nullopt, sink));
    EXPECT_TRUE(camera.bulkOut().empty());
}

TEST_F(UsbTransportTest, ExplainsAGoneDeviceAndOneWithoutPTP) {
    UsbTransport gone({1, 9}, quick());
    const auto missing = gone.connect();
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.toStdString().find("アドレス 9"), std::string::npos);
    EXPECT_NE(missing.error().message.toStdString().find("見つからない"), std::string::npos);

    UsbTestbed::Device disk;
    disk.address = 7;
    disk.port = "1-2";
    disk.interfaceClass = 8;
    disk.interfaceSubClass = 6;
    disk.interfaceProtocol = 0x50;
    testbed.add(disk);
    UsbTransport storage({1, 7}, quick());
    const auto notPtp = storage.connect();
    ASSERT_FALSE(notPtp);
    EXPECT_NE(notPtp.error().message.toStdString().find("PTP"), std::string::npos);
}

TEST_F(UsbTransportTest, ClearsTheHaltAfterTheCameraStallsAndGoesOn) {
    camera.expect({.command = container(1, 0x1009, 2, {0x1234}), .stall = true});
    camera.setStatusReplies({FakeUsbCamera::status(ok, {0x81})});
    auto transport = open();
    RecordingSink sink;
    const auto result = transport->transact({0x1009, 2, {0x1234}}, std::nullopt, sink);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.toStdString().find("ストール"), std::string::npos);
    // A stall is the device ending the transaction: no Cancel, just status and clear halt.
    EXPECT_EQ(requests(camera.controls()), (std::vector<std::uint8_t>{0x67}));
    EXPECT_EQ(camera.clearedHalts(), (std::vector<unsigned>{0x81}));
    expectWorking(*transport, 3);
}

TEST_F(UsbTransportTest, CancelsATransactionTheCameraDoesNotAnswer) {
    camera.expect({.command = container(1, 0x1009, 0x01020304, {0x1234})});  // no answer
    auto transport = open();
    RecordingSink sink;
    const auto result = transport->transact({0x1009, 0x01020304, {0x1234}}, std::nullopt, sink);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.toStdString().find("時間切れ"), std::string::npos);
    const auto controls = camera.controls();
    ASSERT_EQ(requests(controls), (std::vector<std::uint8_t>{0x64, 0x67}));
    // Cancel Request: class, interface 0, the cancellation code and the transaction ID.
    EXPECT_EQ(controls[0].requestType, 0x21);
    EXPECT_EQ(controls[0].index, 0);
    EXPECT_EQ(controls[0].data, (Bytes{0x01, 0x40, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(controls[1].requestType, 0xA1);
    expectWorking(*transport, 0x01020305);
}

TEST_F(UsbTransportTest, ResetsACameraThatStaysBusyAfterACancel) {
    camera.expect({.command = container(1, 0x1009, 2, {1})});
    camera.setStatusReplies({FakeUsbCamera::status(0x2019)});
    auto transport = open();
    RecordingSink sink;
    ASSERT_FALSE(transport->transact({0x1009, 2, {1}}, std::nullopt, sink));
    const auto sent = requests(camera.controls());
    ASSERT_GE(sent.size(), 3U);
    EXPECT_EQ(sent.front(), 0x64);
    EXPECT_EQ(sent.back(), 0x66);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 0x67), static_cast<long>(sent.size()) - 2);
    const auto halts = camera.clearedHalts();
    EXPECT_NE(std::find(halts.begin(), halts.end(), 0x81U), halts.end());
    EXPECT_NE(std::find(halts.begin(), halts.end(), 0x02U), halts.end());
}

TEST_F(UsbTransportTest, CancelsWhenTheSinkStopsTakingData) {
    const Bytes payload = pattern(40000);
    camera.expect({.command = container(1, 0x1009, 2, {5}),
                   .replies = {container(2, 0x1009, 2, {}, payload), container(3, ok, 2)}});
    auto transport = open();
    RecordingSink sink;
    sink.refuseAtWrite = 2;
    const auto result = transport->transact({0x1009, 2, {5}}, std::nullopt, sink);
    ASSERT_FALSE(result);
    EXPECT_NE(result.error().message.toStdString().find("中断"), std::string::npos);
    const auto controls = camera.controls();
    ASSERT_FALSE(controls.empty());
    EXPECT_EQ(controls[0].request, 0x64);
    EXPECT_EQ(controls[0].data, (Bytes{0x01, 0x40, 2, 0, 0, 0}));
    expectWorking(*transport, 3);
}

TEST_F(UsbTransportTest, RefusesGarbageInsteadOfAResponse) {
    camera.expect({.command = container(1, 0x1002, 0, {1}),
                   .replies = {Bytes{8, 0, 0, 0, 3, 0, 0x01, 0x20}}});
    camera.expect(
        {.command = container(1, 0x1002, 1, {1}),
         .replies = {container(2, 0x1002, 1, {}, Bytes{1, 2, 3}), container(2, 0x1002, 1)}});
    auto transport = open();
    RecordingSink sink;
    const auto shortReply = transport->transact({0x1002, 0, {1}}, std::nullopt, sink);
    ASSERT_FALSE(shortReply);
    EXPECT_NE(shortReply.error().message.toStdString().find("読めない"), std::string::npos);
    // A second data container where the response belongs is no response either.
    const auto twoData = transport->transact({0x1002, 1, {1}}, std::nullopt, sink);
    ASSERT_FALSE(twoData);
    EXPECT_NE(twoData.error().message.toStdString().find("読めない"), std::string::npos);
    expectWorking(*transport, 2);

    // More than five parameters never reach the wire.
    const auto before = camera.bulkOut().size();
    EXPECT_FALSE(transport->transact({0x1002, 3, {1, 2, 3, 4, 5, 6}}, std::nullopt, sink));
    EXPECT_EQ(camera.bulkOut().size(), before);
}

TEST_F(UsbTransportTest, DeliversEventsWhileTransactionsRun) {
    camera.expect({.command = container(1, 0x1002, 0, {1}), .replies = {container(3, ok, 0)}});
    auto transport = open();
    auto event = std::async(std::launch::async, [&] { return transport->waitEvent(3000ms); });
    BufferSink sink;
    ASSERT_TRUE(transport->transact({0x1002, 0, {1}}, std::nullopt, sink));
    // 16 bytes through an 8-byte interrupt endpoint: the container comes in two packets.
    const Bytes added = container(4, 0x4002, 0, {0x00010203});
    camera.queueEvent(added);
    const auto got = event.get();
    ASSERT_TRUE(got) << got.error().message.toStdString();
    ASSERT_TRUE(got.value());
    EXPECT_EQ(*got.value(), added);

    const auto quiet = transport->waitEvent(50ms);
    ASSERT_TRUE(quiet);
    EXPECT_FALSE(quiet.value());

    // Junk on the interrupt pipe is dropped, not taken for an event.
    camera.queueEvent(container(3, ok, 0));
    const auto junk = transport->waitEvent(500ms);
    ASSERT_TRUE(junk);
    EXPECT_FALSE(junk.value());
}

TEST_F(UsbTransportTest, InterruptEndsBlockedCallsAtOnceWithoutRecovery) {
    camera.expect({.command = container(1, 0x1009, 2, {1})});  // never answered
    UsbTransportOptions slow = quick();
    slow.transferTimeout = 10s;
    auto transport = open(slow);
    auto event = std::async(std::launch::async, [&] { return transport->waitEvent(10000ms); });
    auto transaction = std::async(std::launch::async, [&] {
        RecordingSink sink;
        return transport->transact({0x1009, 2, {1}}, std::nullopt, sink);
    });
    // Both calls wait on the device: the response and an event.
    ASSERT_TRUE(camera.waitForBlockedTransfers(1, 1));
    const auto start = std::chrono::steady_clock::now();
    transport->interrupt();
    ASSERT_EQ(transaction.wait_for(3s), std::future_status::ready);
    ASSERT_EQ(event.wait_for(3s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    const auto t = transaction.get();
    const auto e = event.get();
    ASSERT_FALSE(t);
    ASSERT_FALSE(e);
    EXPECT_NE(t.error().message.toStdString().find("閉じた"), std::string::npos);
    EXPECT_TRUE(requests(camera.controls()).empty());
    RecordingSink sink;
    EXPECT_FALSE(transport->transact({0x1001, 3, {}}, std::nullopt, sink));
}

TEST_F(UsbTransportTest, ReportsAnUnpluggedCameraWithoutRecovery) {
    camera.expect({.command = container(1, 0x1009, 2, {1})});  // never answered
    UsbTransportOptions slow = quick();
    slow.transferTimeout = 10s;
    auto transport = open(slow);
    auto transaction = std::async(std::launch::async, [&] {
        RecordingSink sink;
        return transport->transact({0x1009, 2, {1}}, std::nullopt, sink);
    });
    ASSERT_TRUE(camera.waitForBlockedTransfers(1, 0));  // waiting for the response
    camera.unplug();
    ASSERT_EQ(transaction.wait_for(3s), std::future_status::ready);
    const auto t = transaction.get();
    ASSERT_FALSE(t);
    EXPECT_NE(t.error().message.toStdString().find("外れた"), std::string::npos);
    EXPECT_TRUE(requests(camera.controls()).empty());
    const auto e = transport->waitEvent(1000ms);
    ASSERT_FALSE(e);
    EXPECT_NE(e.error().message.toStdString().find("外れた"), std::string::npos);
}

}  // namespace
}  // namespace pexil::camera
