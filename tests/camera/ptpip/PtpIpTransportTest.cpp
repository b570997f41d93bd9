#include "camera/ptpip/PtpIpServer.h"
#include "camera/ptpip/PtpIpTransport.h"
#include "camera/session/SessionEngine.h"
#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace pexil::camera {
namespace {

using namespace std::chrono_literals;
using namespace ptpip;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t OK = 0x2001;

// The bytes of a generated object: a random 64 KiB block repeated, each repetition
// stamped with its number in its first 8 bytes, so that a lost, doubled or misplaced piece
// shows, and cheap enough to make and check 50 MB of under the sanitizers.
constexpr std::size_t patternBlock = 64 * 1024;

const Bytes& patternBase() {
    static const Bytes base = [] {
        Bytes out(patternBlock);
        std::uint32_t x = 2463534242U;
        for (auto& byte : out) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<std::uint8_t>(x);
        }
        return out;
    }();
    return base;
}

Bytes pattern(std::size_t size, std::uint64_t from = 0) {
    Bytes out(size);
    for (std::size_t done = 0; done < size;) {
        const auto position = from + done;
        const auto inBlock = static_cast<std::size_t>(position % patternBlock);
        const auto length = std::min(size - done, patternBlock - inBlock);
        std::memcpy(out.data() + done, patternBase().data() + inBlock, length);
        for (std::size_t k = inBlock; k < 8 && k < inBlock + length; ++k)
            out[done + k - inBlock] =
                static_cast<std::uint8_t>((position / patternBlock) >> (8 * k));
        done += length;
    }
    return out;
}

// Log lines from any thread.
class Lines {
public:
    std::function<void(const QString&)> sink() {
        return [this](const QString& line) {
            std::lock_guard lock(mutex_);
            lines_.append(line);
        };
    }
    QStringList all() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    int count(const QString& part) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(lines_.filter(part).size());
    }

private:
    std::mutex mutex_;
    QStringList lines_;
};

// Checks a data phase against the pattern as it arrives, keeping nothing but counts.
class PatternSink final : public DataSink {
public:
    explicit PatternSink(std::optional<std::size_t> refuseAfterPieces = std::nullopt)
        : refuseAfter_(refuseAfterPieces) {}
    bool begin(std::optional<std::uint64_t> total) override {
        ++begins;
        announced = total;
        return true;
    }
    bool write(ByteView piece) override {
        const auto expected = pattern(piece.size(), received);
        if (!std::equal(piece.begin(), piece.end(), expected.begin())) matches = false;
        received += piece.size();
        ++pieces;
        largest = std::max(largest, piece.size());
        return !refuseAfter_ || pieces < *refuseAfter_;
    }
    int begins = 0;
    std::optional<std::uint64_t> announced;
    std::uint64_t received = 0;
    std::size_t pieces = 0;
    std::size_t largest = 0;
    bool matches = true;

private:
    std::optional<std::size_t> refuseAfter_;
};

// A responder with canned answers: `answer` decides each operation, events are queued by
// the test.
class FakeResponder final : public Responder {
public:
    using Handler = std::function<Result<Response, TransportError>(
        const Operation&, std::optional<ByteView>, DataSink&)>;
    struct Call {
        Operation operation;
        std::optional<Bytes> outData;
    };

    Result<Response, TransportError> handle(const Operation& operation,
                                            std::optional<ByteView> outData,
                                            DataSink& sink) override {
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(
                {operation, outData ? std::optional<Bytes>(Bytes(outData->begin(), outData->end()))
                                    : std::nullopt});
            handler = answer;
        }
        if (handler) return handler(operation, outData, sink);
        return Response{OK, 0, {operation.transactionId + 100}};
    }

    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, timeout, [this] { return !events_.empty(); });
        if (events_.empty()) return std::optional<Bytes>();
        auto event = std::move(events_.front());
        events_.pop_front();
        return std::optional<Bytes>(std::move(event));
    }

    void post(Bytes container) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(container));
        wake_.notify_all();
    }
    std::vector<Call> calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    Handler answer;  // set before the server starts

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Bytes> events_;
    std::vector<Call> calls_;
};

// Streams `total` bytes of the pattern in pieces of `piece` bytes.
FakeResponder::Handler streaming(std::uint64_t total, std::size_t piece,
                                 std::optional<std::uint64_t> announce) {
    return [=](const Operation&, std::optional<ByteView>,
               DataSink& sink) -> Result<Response, TransportError> {
        if (!sink.begin(announce)) return TransportError{QStringLiteral("refused")};
        for (std::uint64_t offset = 0; offset < total; offset += piece) {
            const auto bytes = pattern(
                static_cast<std::size_t>(std::min<std::uint64_t>(piece, total - offset)), offset);
            if (!sink.write(bytes)) return TransportError{QStringLiteral("cut")};
        }
        return Response{OK, 0, {}};
    };
}

PtpIpTransport::Options optionsFor(std::uint16_t port) {
    PtpIpTransport::Options options;
    options.host = "127.0.0.1";
    options.port = port;
    options.friendlyName = QStringLiteral("Pexil test");
    return options;
}

// Loopback client and server, with the fake responder behind the server.
class PtpIpLoopback : public ::testing::Test {
protected:
    void start() {
        server = std::make_unique<PtpIpServer>(responder, "127.0.0.1", 0, serverLog.sink());
        ASSERT_TRUE(server->start());
        ASSERT_NE(server->port(), 0);
    }
    std::unique_ptr<PtpIpTransport> connected() {
        auto transport =
            std::make_unique<PtpIpTransport>(optionsFor(server->port()), clientLog.sink());
        const auto result = transport->connect();
        EXPECT_TRUE(result) << (result ? "" : result.error().message.toStdString());
        return transport;
    }

    // The logs outlive the server, which writes to its log when it stops.
    Lines serverLog;
    Lines clientLog;
    std::shared_ptr<FakeResponder> responder = std::make_shared<FakeResponder>();
    std::unique_ptr<PtpIpServer> server;
};

TEST_F(PtpIpLoopback, ConnectsAndCarriesAnOperationBothWays) {
    start();
    auto client = connected();
    ASSERT_TRUE(client->camera());
    EXPECT_EQ(client->camera()->name, QStringLiteral("Pexil virtual camera"));
    EXPECT_EQ(client->camera()->guid, PtpIpServer::guid);

    BufferSink sink;
    const auto result = client->transact({0x1002, 41, {1, 0xFFFFFFFF}}, std::nullopt, sink);
    ASSERT_TRUE(result);
    // The response answers the request's transaction whatever the responder put there.
    EXPECT_EQ(result.value(), (Response{OK, 41, {141}}));
    EXPECT_TRUE(sink.data().empty());
    const auto calls = responder->calls();
    ASSERT_EQ(calls.size(), 1U);
    EXPECT_EQ(calls[0].operation, (Operation{0x1002, 41, {1, 0xFFFFFFFF}}));
    EXPECT_FALSE(calls[0].outData);
    EXPECT_EQ(serverLog.count(QStringLiteral("「Pexil test」: 接続しました")), 1);
}

TEST_F(PtpIpLoopback, HostDataReachesTheResponderByteExact) {
    start();
    auto client = connected();
    // Around the 64 KiB pieces the client sends.
    const std::vector<std::size_t> sizes{0, 1, 65535, 65536, 65537, 200000};
    std::uint32_t tid = 1;
    for (const auto size : sizes) {
        const auto data = pattern(size, size);
        BufferSink sink;
        const auto result = client->transact({0x1016, tid++, {0x5001}}, ByteView(data), sink);
        ASSERT_TRUE(result) << size;
        EXPECT_EQ(result.value().code, OK);
        const auto calls = responder->calls();
        ASSERT_TRUE(calls.back().outData) << size;
        EXPECT_EQ(*calls.back().outData, data) << size;
    }
}

TEST_F(PtpIpLoopback, AFiftyMegabyteObjectStreamsInPiecesWithoutBuffering) {
    constexpr std::uint64_t total = 50ULL << 20;
    responder->answer = streaming(total, 256 * 1024, total);
    start();
    auto client = connected();
    PatternSink sink;
    const auto result = client->transact({0x1009, 2, {0x10001}}, std::nullopt, sink);
    ASSERT_TRUE(result) << result.error().message.toStdString();
    EXPECT_EQ(result.value().code, OK);
    EXPECT_EQ(sink.begins, 1);
    EXPECT_EQ(sink.announced, total);
    EXPECT_EQ(sink.received, total);
    EXPECT_TRUE(sink.matches);
    EXPECT_GT(sink.pieces, 10U);
    EXPECT_LE(sink.largest, PtpIpConnection::defaultCapacity);
}

TEST_F(PtpIpLoopback, DataPhasesOfUnknownAndZeroLengthEndCleanly) {
    std::atomic<int> calls = 0;
    const auto unknown = streaming(300000, 100000, std::nullopt);
    const auto empty = streaming(0, 1, 0);
    responder->answer = [&](const Operation& op, std::optional<ByteView> out, DataSink& sink) {
        ++calls;
        return op.code == 0x1009 ? unknown(op, out, sink) : empty(op, out, sink);
    };
    start();
    auto client = connected();

    PatternSink whole;
    ASSERT_TRUE(client->transact({0x1009, 1, {}}, std::nullopt, whole));
    EXPECT_EQ(whole.begins, 1);
    EXPECT_EQ(whole.announced, std::nullopt);
    EXPECT_EQ(whole.received, 300000U);
    EXPECT_TRUE(whole.matches);

    PatternSink nothing;
    const auto result = client->transact({0x100A, 2, {}}, std::nullopt, nothing);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value().transactionId, 2U);
    EXPECT_EQ(nothing.begins, 1);
    EXPECT_EQ(nothing.announced, 0U);
    EXPECT_EQ(nothing.received, 0U);
    EXPECT_EQ(calls, 2);
}

TEST_F(PtpIpLoopback, EventsArriveAsStandardContainersAndTimeOutAsNone) {
    start();
    auto client = connected();
    const auto objectAdded = eventContainer(Event{0x4002, 0, {0x00010007}});
    const auto vendor = eventContainer(Event{0xC101, 9, {1, 2, 3}});
    responder->post(objectAdded);
    responder->post(vendor);
    for (const auto& expected : {objectAdded, vendor}) {
        const auto event = client->waitEvent(2s);
        ASSERT_TRUE(event);
        ASSERT_TRUE(event.value());
        EXPECT_EQ(*event.value(), expected);
    }
    const auto before = Clock::now();
    const auto none = client->waitEvent(60ms);
    ASSERT_TRUE(none);
    EXPECT_FALSE(none.value());
    EXPECT_GE(Clock::now() - before, 50ms);
    EXPECT_LT(Clock::now() - before, 2s);
}

TEST_F(PtpIpLoopback, ASecondInitiatorIsTurnedAwayUntilTheFirstHasGone) {
    start();
    auto first = connected();
    PtpIpTransport second(optionsFor(server->port()), clientLog.sink());
    const auto refused = second.connect();
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("別の機器と接続中")))
        << refused.error().message.toStdString();
    EXPECT_EQ(clientLog.count(QStringLiteral("Init Fail 2")), 1);

    first.reset();
    auto third = connected();
    BufferSink sink;
    EXPECT_TRUE(third->transact({0x1001, 1, {}}, std::nullopt, sink));
}

TEST_F(PtpIpLoopback, AResponderFailureClosesBothConnections) {
    responder->answer = [](const Operation&, std::optional<ByteView>,
                           DataSink& sink) -> Result<Response, TransportError> {
        sink.begin(1000);
        sink.write(pattern(100));
        return TransportError{QStringLiteral("unplugged")};
    };
    start();
    auto client = connected();
    PatternSink sink;
    const auto result = client->transact({0x1009, 1, {}}, std::nullopt, sink);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, QStringLiteral("カメラとの接続が切れました。"));
    EXPECT_EQ(sink.received, 100U);
    const auto event = client->waitEvent(1s);
    ASSERT_FALSE(event);
    EXPECT_EQ(event.error(), result.error());
    EXPECT_EQ(clientLog.count(QStringLiteral("接続が切れました")), 1);
    EXPECT_EQ(serverLog.count(QStringLiteral("unplugged")), 1);
}

TEST_F(PtpIpLoopback, AResponderWritingOtherThanItAnnouncedEndsTheSession) {
    responder->answer = [](const Operation& op, std::optional<ByteView>,
                           DataSink& sink) -> Result<Response, TransportError> {
        sink.begin(1000);
        if (op.code == 0x1009)
            sink.write(pattern(500));  // short
        else
            sink.write(pattern(1500));  // past the total
        return Response{OK, 0, {}};
    };
    for (const std::uint16_t code : {0x1009, 0x100A}) {
        start();
        auto client = connected();
        PatternSink sink;
        EXPECT_FALSE(client->transact({code, 1, {}}, std::nullopt, sink));
        EXPECT_LE(sink.received, 1000U);
        client.reset();
        server.reset();
    }
}

TEST_F(PtpIpLoopback, ARefusedSinkFailsOnlyItsTransaction) {
    responder->answer = streaming(5 << 20, 64 * 1024, 5 << 20);
    start();
    auto client = connected();
    PatternSink refusing(2);
    const auto refused = client->transact({0x1009, 1, {}}, std::nullopt, refusing);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message,
              QStringLiteral("カメラからのデータの受け取りを中止しました。"));
    EXPECT_EQ(refusing.pieces, 2U);  // nothing written after the refusal

    PatternSink next;
    const auto result = client->transact({0x1009, 2, {}}, std::nullopt, next);
    ASSERT_TRUE(result);
    EXPECT_EQ(next.received, 5U << 20);
    EXPECT_TRUE(next.matches);
}

TEST_F(PtpIpLoopback, StopEndsAStreamingSessionPromptly) {
    const auto endless = streaming(1ULL << 40, 64 * 1024, 1ULL << 40);  // never ends by itself
    std::promise<void> streamingStarted;
    responder->answer = [&, endless](const Operation& operation, std::optional<ByteView> outData,
                                     DataSink& sink) {
        streamingStarted.set_value();
        return endless(operation, outData, sink);
    };
    start();
    auto client = connected();
    auto transfer = std::async(std::launch::async, [&] {
        PatternSink sink;
        return client->transact({0x1009, 1, {}}, std::nullopt, sink);
    });
    ASSERT_EQ(streamingStarted.get_future().wait_for(5s), std::future_status::ready);
    const auto before = Clock::now();
    server->stop();
    EXPECT_LT(Clock::now() - before, 2s);
    ASSERT_EQ(transfer.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(transfer.get());
}

// ---- A camera played from bytes on a raw socket ----

// Blocking, without Nagle's delay, and never stuck for more than 5 s.
void configureTestSocket(int fd) {
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int acceptWithin(int listener, std::chrono::milliseconds timeout) {
    pollfd fd{listener, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(timeout.count())) != 1) return -1;
    const int peer = ::accept(listener, nullptr, nullptr);
    configureTestSocket(peer);
    return peer;
}

bool readExactly(int fd, std::uint8_t* into, std::size_t size) {
    while (size > 0) {
        const auto n = ::recv(fd, into, size, 0);
        if (n <= 0) return false;
        into += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<Packet> readPacket(int fd) {
    Bytes bytes(headerSize);
    if (!readExactly(fd, bytes.data(), headerSize)) return std::nullopt;
    const auto header = parseHeader(bytes);
    if (!header) return std::nullopt;
    bytes.resize(header->length);
    if (!readExactly(fd, bytes.data() + headerSize, header->length - headerSize))
        return std::nullopt;
    return parse(bytes);
}

void sendBytes(int fd, const Bytes& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}
void sendPacket(int fd, const Packet& packet) {
    sendBytes(fd, encode(packet));
}

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
    Fd& operator=(Fd&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

Fd loopbackListener() {
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener.fd, 4), 0);
    return listener;
}

std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

class RawCamera : public ::testing::Test {
protected:
    // Plays the device side of the init handshake and keeps both connections.
    bool handshake() {
        command = Fd(acceptWithin(listener.fd, 5s));
        if (command.fd < 0) return false;
        const auto init = readPacket(command.fd);
        if (!init || !std::holds_alternative<InitCommandRequest>(*init)) return false;
        initiator = std::get<InitCommandRequest>(*init);
        sendPacket(command.fd,
                   InitCommandAck{77, Guid{1}, QStringLiteral("D850"), protocolVersion});
        events = Fd(acceptWithin(listener.fd, 5s));
        if (events.fd < 0) return false;
        const auto eventInit = readPacket(events.fd);
        if (!eventInit || std::get_if<InitEventRequest>(&*eventInit) == nullptr ||
            std::get<InitEventRequest>(*eventInit).connectionNumber != 77)
            return false;
        sendPacket(events.fd, InitEventAck{});
        return true;
    }

    // Connects the transport while the camera side runs `script` after its handshake. A
    // test whose script uses its locals joins `peer` before they go.
    void run(const std::function<void()>& script) {
        peer = std::thread([this, script] {
            if (!handshake()) {
                ADD_FAILURE() << "handshake";
                return;
            }
            script();
        });
        const auto connected = transport->connect();
        ASSERT_TRUE(connected) << connected.error().message.toStdString();
    }

    Operation nextRequest() {
        const auto packet = readPacket(command.fd);
        EXPECT_TRUE(packet && std::holds_alternative<OperationRequest>(*packet));
        return packet && std::holds_alternative<OperationRequest>(*packet)
                   ? std::get<OperationRequest>(*packet).operation
                   : Operation{};
    }

    void TearDown() override {
        if (peer.joinable()) peer.join();
    }

    Fd listener = loopbackListener();
    Lines log;
    std::unique_ptr<PtpIpTransport> transport =
        std::make_unique<PtpIpTransport>(optionsFor(portOf(listener.fd)), log.sink());
    Fd command;
    Fd events;
    InitCommandRequest initiator;
    std::thread peer;
};

TEST_F(RawCamera, HandshakePresentsTheInitiatorAndTakesTheCamerasName) {
    run([] {});
    peer.join();
    EXPECT_EQ(initiator.name, QStringLiteral("Pexil test"));
    EXPECT_EQ(initiator.guid, PtpIpTransport::defaultGuid());
    EXPECT_EQ(initiator.version, protocolVersion);
    EXPECT_EQ(transport->camera()->name, QStringLiteral("D850"));
    EXPECT_EQ(PtpIpTransport::defaultGuid(), PtpIpTransport::defaultGuid());  // stable
    EXPECT_LE(PtpIpTransport::defaultFriendlyName().size(), 39);
    EXPECT_TRUE(PtpIpTransport::defaultFriendlyName().startsWith(QStringLiteral("Pexil")));
}

TEST_F(RawCamera, TheWholePayloadInOneEndDataIsDelivered) {
    const auto object = pattern(5000);
    run([&] {
        // Start Data, then everything in End Data, as some Nikon bodies send it.
        auto op = nextRequest();
        sendPacket(command.fd, StartData{op.transactionId, object.size()});
        sendPacket(command.fd, EndData{op.transactionId, object});
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
        // End Data alone, without Start Data.
        op = nextRequest();
        sendPacket(command.fd, EndData{op.transactionId, object});
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
    });
    for (std::uint32_t tid : {1U, 2U}) {
        PatternSink sink;
        const auto result = transport->transact({0x1009, tid, {}}, std::nullopt, sink);
        ASSERT_TRUE(result) << tid;
        EXPECT_EQ(result.value(), (Response{OK, tid, {}}));
        EXPECT_EQ(sink.begins, 1);
        EXPECT_EQ(sink.announced, tid == 1 ? std::optional<std::uint64_t>(5000) : std::nullopt);
        EXPECT_EQ(sink.received, 5000U);
        EXPECT_TRUE(sink.matches);
    }
    peer.join();
}

TEST_F(RawCamera, InitFailSaysWhyTheCameraRefused) {
    const std::vector<std::pair<std::uint32_t, QString>> cases{
        {2, QStringLiteral("別の機器と接続中")},
        {1, QStringLiteral("ペアリング")},
        {0x99, QStringLiteral("理由 153")},
    };
    for (const auto& [reason, words] : cases) {
        std::thread camera([&, reason = reason] {
            Fd peer(acceptWithin(listener.fd, 5s));
            if (readPacket(peer.fd)) sendPacket(peer.fd, InitFail{reason});
        });
        const auto result = transport->connect();
        camera.join();
        ASSERT_FALSE(result);
        EXPECT_TRUE(result.error().message.contains(words)) << result.error().message.toStdString();
    }
    // Each refusal is one log line; the transport may try again.
    EXPECT_EQ(log.count(QStringLiteral("Init Fail")), 3);
}

TEST_F(RawCamera, ProbesAreAnsweredOnEitherConnection) {
    std::atomic<bool> eventProbeAnswered = false;
    std::atomic<bool> commandProbeAnswered = false;
    run([&] {
        sendPacket(events.fd, ProbeRequest{});
        const auto answer = readPacket(events.fd);
        eventProbeAnswered = answer && std::holds_alternative<ProbeResponse>(*answer);
        sendPacket(events.fd, Event{0x4006, 7, {1, 2, 3}});

        const auto op = nextRequest();
        sendPacket(command.fd, ProbeRequest{});
        const auto commandAnswer = readPacket(command.fd);
        commandProbeAnswered =
            commandAnswer && std::holds_alternative<ProbeResponse>(*commandAnswer);
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
    });
    const auto event = transport->waitEvent(5s);
    ASSERT_TRUE(event);
    ASSERT_TRUE(event.value());
    EXPECT_TRUE(eventProbeAnswered);
    const Bytes standard{24, 0, 0, 0, 4, 0, 0x06, 0x40, 7, 0, 0, 0,
                         1,  0, 0, 0, 2, 0, 0,    0,    3, 0, 0, 0};
    EXPECT_EQ(*event.value(), standard);

    BufferSink sink;
    EXPECT_TRUE(transport->transact({0x90C8, 3, {}}, std::nullopt, sink));
    peer.join();
    EXPECT_TRUE(commandProbeAnswered);
}

TEST_F(RawCamera, AConnectionCutMidDataFailsAndDeliversNothingMore) {
    run([&] {
        const auto op = nextRequest();
        sendPacket(command.fd, StartData{op.transactionId, 1000});
        Bytes data = encode(Data{op.transactionId, pattern(300)});
        data.resize(data.size() - 100);  // the cable goes mid-packet
        sendBytes(command.fd, data);
        command = Fd();
        events = Fd();
    });
    PatternSink sink;
    const auto result = transport->transact({0x1009, 1, {}}, std::nullopt, sink);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message, QStringLiteral("カメラとの接続が切れました。"));
    EXPECT_EQ(sink.received, 200U);
    EXPECT_TRUE(sink.matches);

    const auto again = transport->transact({0x1001, 2, {}}, std::nullopt, sink);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error(), result.error());
    EXPECT_FALSE(transport->waitEvent(1s));
    EXPECT_EQ(sink.received, 200U);
    EXPECT_EQ(log.count(QStringLiteral("接続が切れました")), 1);
}

TEST_F(RawCamera, DataOfTheWrongLengthFailsOnlyItsTransaction) {
    run([&] {
        // Short of the total, then past it, then short with an error response.
        auto op = nextRequest();
        sendPacket(command.fd, StartData{op.transactionId, 100});
        sendPacket(command.fd, EndData{op.transactionId, pattern(50)});
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
        op = nextRequest();
        sendPacket(command.fd, StartData{op.transactionId, 100});
        sendPacket(command.fd, Data{op.transactionId, pattern(150)});
        sendPacket(command.fd, EndData{op.transactionId, {}});
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
        op = nextRequest();
        sendPacket(command.fd, StartData{op.transactionId, 100});
        sendPacket(command.fd, Cancel{op.transactionId});
        sendPacket(command.fd, OperationResponse{{0x201F, op.transactionId, {}}});
        op = nextRequest();
        sendPacket(command.fd, OperationResponse{{OK, op.transactionId, {}}});
    });
    PatternSink shortSink;
    const auto shortResult = transport->transact({0x1009, 1, {}}, std::nullopt, shortSink);
    ASSERT_FALSE(shortResult);
    EXPECT_EQ(shortResult.error().message,
              QStringLiteral("カメラからのデータが途中で終わりました。"));

    PatternSink longSink;
    const auto longResult = transport->transact({0x1009, 2, {}}, std::nullopt, longSink);
    ASSERT_FALSE(longResult);
    EXPECT_TRUE(longResult.error().message.contains(QStringLiteral("予告より長く")));
    EXPECT_LE(longSink.received, 100U);  // nothing past the total reaches the sink

    PatternSink cancelled;
    const auto cancelResult = transport->transact({0x1009, 3, {}}, std::nullopt, cancelled);
    ASSERT_TRUE(cancelResult);
    EXPECT_EQ(cancelResult.value().code, 0x201F);

    BufferSink sink;
    EXPECT_TRUE(transport->transact({0x1001, 4, {}}, std::nullopt, sink));
}

TEST_F(RawCamera, InterruptUnblocksWaitEventAndTransact) {
    std::promise<void> done;
    auto finished = done.get_future();
    std::promise<void> requested;
    std::promise<void> probed;
    run([&] {
        nextRequest();  // and never answer
        requested.set_value();
        const auto probe = readPacket(events.fd);  // and never answer either
        if (probe && std::holds_alternative<ProbeRequest>(*probe)) probed.set_value();
        finished.wait_for(5s);
    });
    auto transfer = std::async(std::launch::async, [&] {
        BufferSink sink;
        return transport->transact({0x1009, 1, {}}, std::nullopt, sink);
    });
    // The event thread's first act is to send the probe: its arrival shows it waiting.
    transport->probe();
    auto event = std::async(std::launch::async, [&] { return transport->waitEvent(60s); });
    ASSERT_EQ(requested.get_future().wait_for(5s), std::future_status::ready);
    ASSERT_EQ(probed.get_future().wait_for(5s), std::future_status::ready);
    const auto before = Clock::now();
    transport->interrupt();
    ASSERT_EQ(transfer.wait_for(2s), std::future_status::ready);
    ASSERT_EQ(event.wait_for(2s), std::future_status::ready);
    EXPECT_LT(Clock::now() - before, 2s);
    const auto transferResult = transfer.get();
    const auto eventResult = event.get();
    ASSERT_FALSE(transferResult);
    ASSERT_FALSE(eventResult);
    EXPECT_EQ(transferResult.error().message, QStringLiteral("カメラとの接続を閉じました。"));
    EXPECT_EQ(eventResult.error(), transferResult.error());
    done.set_value();
    peer.join();  // before the script's locals go
}

async::Task<void> exchangeInto(std::shared_ptr<SessionEngine> engine, std::uint16_t code,
                               std::optional<Result<Exchange, TransportError>>& out) {
    out.emplace(co_await engine->exchange(code, {}));
}

// A command without a data phase that the camera never answers, nor any probe: the
// watchdog probes on the event connection, then gives the camera up after the time-out.
TEST_F(RawCamera, ACameraSilentOnBothConnectionsIsProbedThenGivenUp) {
    auto options = optionsFor(portOf(listener.fd));
    options.ioTimeout = 5s;
    transport = std::make_unique<PtpIpTransport>(options, log.sink());
    std::atomic<bool> requested = false;
    std::atomic<int> probes = 0;
    run([&] {
        const auto open = nextRequest();
        sendPacket(command.fd, OperationResponse{{OK, open.transactionId, {}}});
        nextRequest();  // never answered
        requested = true;
        // Until the initiator goes; the socket's 5 s limit ends a wait that nothing ends.
        while (const auto packet = readPacket(events.fd))
            if (std::holds_alternative<ProbeRequest>(*packet)) ++probes;
    });
    async::VirtualRuntime rt;
    auto engine = SessionEngine::create(rt, std::move(transport));
    std::vector<QString> losses;
    engine->setLossHandler([&](TransportError error) { losses.push_back(error.message); });
    const auto opened = rt.run(engine->open(), async::Seconds{30});
    ASSERT_TRUE(opened && opened->ok());

    std::optional<Result<Exchange, TransportError>> result;
    async::Scope scope(rt);
    scope.spawn(exchangeInto(engine, 0x100E, result));
    // The camera's thread says nothing to the main queue: look again every few milliseconds.
    for (int i = 0; i < 2000 && !requested; ++i)
        rt.waitUntil([&] { return requested.load(); }, 5ms);
    ASSERT_TRUE(requested);
    const auto start = rt.clock().monotonic();
    while (!result && rt.clock().monotonic() - start < async::Seconds{30}) {
        rt.clock().advance(async::Seconds{0.25});
        rt.runReady();
        rt.waitUntil([&] { return result.has_value(); }, 20ms);
    }
    ASSERT_TRUE(result);
    const auto took = rt.clock().monotonic() - start;
    EXPECT_GE(took.count(), 5.0);
    EXPECT_LE(took.count(), 6.5);
    ASSERT_FALSE(result->ok());
    EXPECT_TRUE(
        result->error().message.startsWith(QStringLiteral("カメラが 5 秒間応答しませんでした")));
    rt.waitUntil([&] { return !losses.empty(); });
    EXPECT_EQ(losses, std::vector<QString>{result->error().message});
    peer.join();
    // Asked at a quarter, a half and three quarters of the time-out; asks that come
    // before the event reader has sent the last one go out as one.
    EXPECT_GE(probes.load(), 1);
    EXPECT_LE(probes.load(), 3);
}

// A transaction that hangs while the camera stays chatty elsewhere: it answers every probe,
// or sends an event again and again. That shows a live camera, not a moving transaction: the
// time-out must still end it, or a wedged body keeps every caller waiting for ever.
TEST_F(RawCamera, AHungTransactionEndsAtTheTimeOutWhateverTheEventConnectionSays) {
    struct Row {
        const char* what;
        bool answersProbes;
        bool sendsEvents;
    };
    const Row rows[] = {
        {"answers probes", true, false}, {"sends events", false, true}, {"both", true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (peer.joinable()) peer.join();
        auto options = optionsFor(portOf(listener.fd));
        options.ioTimeout = 5s;
        transport = std::make_unique<PtpIpTransport>(options, log.sink());
        std::atomic<bool> requested = false;
        run([&] {
            const auto open = nextRequest();
            sendPacket(command.fd, OperationResponse{{OK, open.transactionId, {}}});
            nextRequest();  // never answered
            requested = true;
            for (;;) {
                pollfd waiting{events.fd, POLLIN, 0};
                if (::poll(&waiting, 1, 30) < 0) return;
                if (waiting.revents != 0) {
                    const auto packet = readPacket(events.fd);
                    if (!packet) return;  // the initiator gave up
                    const Bytes answer = encode(ProbeResponse{});
                    if (row.answersProbes && std::holds_alternative<ProbeRequest>(*packet) &&
                        ::send(events.fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0)
                        return;
                }
                const Bytes event = encode(Event{0x4006, 0, {}});
                if (row.sendsEvents &&
                    ::send(events.fd, event.data(), event.size(), MSG_NOSIGNAL) < 0)
                    return;
            }
        });
        async::VirtualRuntime rt;
        auto engine = SessionEngine::create(rt, std::move(transport));
        const auto opened = rt.run(engine->open(), async::Seconds{30});
        ASSERT_TRUE(opened && opened->ok());
        std::optional<Result<Exchange, TransportError>> result;
        async::Scope scope(rt);
        scope.spawn(exchangeInto(engine, 0x100E, result));
        for (int i = 0; i < 2000 && !requested; ++i)
            rt.waitUntil([&] { return requested.load(); }, 5ms);
        ASSERT_TRUE(requested);
        const auto start = rt.clock().monotonic();
        while (!result && rt.clock().monotonic() - start < async::Seconds{30}) {
            rt.clock().advance(async::Seconds{0.25});
            rt.runReady();
            rt.waitUntil([&] { return result.has_value(); }, 20ms);
        }
        ASSERT_TRUE(result);
        EXPECT_LE((rt.clock().monotonic() - start).count(), 6.5);
        ASSERT_FALSE(result->ok());
        EXPECT_TRUE(result->error().message.startsWith(
            QStringLiteral("カメラが 5 秒間応答しませんでした")));
        scope.cancelAll();
        engine.reset();
        peer.join();
    }
}

TEST_F(RawCamera, ASilentCameraTimesOutTheHandshake) {
    auto options = optionsFor(portOf(listener.fd));
    options.initTimeout = 200ms;
    PtpIpTransport silent(options, log.sink());
    std::promise<void> answered;
    std::thread camera([&, done = answered.get_future()] {
        Fd peer(acceptWithin(listener.fd, 5s));
        readPacket(peer.fd);
        done.wait_for(5s);  // silent, with the connection open
    });
    const auto before = Clock::now();
    const auto result = silent.connect();
    EXPECT_LT(Clock::now() - before, 2s);
    answered.set_value();
    camera.join();
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().message.contains(QStringLiteral("応答しませんでした")));
}

TEST(PtpIpConnect, AClosedPortFailsAtOnceWithAClearMessage) {
    std::uint16_t port = 0;
    {
        const auto listener = loopbackListener();
        port = portOf(listener.fd);
    }
    Lines log;
    PtpIpTransport transport(optionsFor(port), log.sink());
    const auto before = Clock::now();
    const auto result = transport.connect();
    EXPECT_LT(Clock::now() - before, 1s);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().message.contains(QStringLiteral("接続を受け付けませんでした")))
        << result.error().message.toStdString();
    EXPECT_EQ(log.all().size(), 1);
}

TEST(PtpIpConnect, AnUnknownHostNameIsExplained) {
    PtpIpTransport::Options options;
    options.host = "camera.invalid";
    PtpIpTransport transport(options);
    const auto result = transport.connect();
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().message.contains(QStringLiteral("camera.invalid")));
}

// ---- Standard initiators against the server ----

TEST_F(PtpIpLoopback, ALibgphoto2StyleInitiatorIsServed) {
    start();
    // libgphoto2 announces "no data" even when it sends some, and sends nothing after
    // Start Data for an empty data phase.
    Fd command(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server->port());
    ASSERT_EQ(::connect(command.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    configureTestSocket(command.fd);
    sendPacket(command.fd, InitCommandRequest{Guid{}, QStringLiteral("gphoto"), protocolVersion});
    const auto ack = readPacket(command.fd);
    ASSERT_TRUE(ack && std::holds_alternative<InitCommandAck>(*ack));
    const auto number = std::get<InitCommandAck>(*ack).connectionNumber;

    Fd events(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::connect(events.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    configureTestSocket(events.fd);
    // A wrong connection number is refused on its own connection.
    {
        Fd stranger(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::connect(stranger.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        configureTestSocket(stranger.fd);
        sendPacket(stranger.fd, InitEventRequest{number + 1});
        const auto fail = readPacket(stranger.fd);
        EXPECT_TRUE(fail && std::holds_alternative<InitFail>(*fail));
    }
    sendPacket(events.fd, InitEventRequest{number});
    const auto eventAck = readPacket(events.fd);
    ASSERT_TRUE(eventAck && std::holds_alternative<InitEventAck>(*eventAck));

    sendPacket(events.fd, ProbeRequest{});
    const auto probe = readPacket(events.fd);
    EXPECT_TRUE(probe && std::holds_alternative<ProbeResponse>(*probe));

    const auto expectOK = [&](std::uint32_t tid) {
        const auto response = readPacket(command.fd);
        ASSERT_TRUE(response && std::holds_alternative<OperationResponse>(*response));
        EXPECT_EQ(std::get<OperationResponse>(*response).response.transactionId, tid);
    };
    // An empty SetDevicePropValue: Start Data with total 0 and nothing after it.
    sendPacket(command.fd, OperationRequest{DataPhase::noneOrIn, {0x1016, 5, {0x5001}}});
    sendPacket(command.fd, StartData{5, 0});
    expectOK(5);
    // The last piece in End Data.
    sendPacket(command.fd, OperationRequest{DataPhase::noneOrIn, {0x1016, 6, {0x5001}}});
    sendPacket(command.fd, StartData{6, 3});
    sendPacket(command.fd, EndData{6, {1, 2, 3}});
    expectOK(6);
    // A conforming empty phase: the End Data that follows is not taken for a request.
    sendPacket(command.fd, OperationRequest{DataPhase::out, {0x1016, 7, {0x5001}}});
    sendPacket(command.fd, StartData{7, 0});
    sendPacket(command.fd, EndData{7, {}});
    expectOK(7);
    sendPacket(command.fd, OperationRequest{DataPhase::noneOrIn, {0x1001, 8, {}}});
    expectOK(8);

    const auto calls = responder->calls();
    ASSERT_EQ(calls.size(), 4U);
    EXPECT_EQ(calls[0].outData, Bytes{});
    EXPECT_EQ(calls[1].outData, (Bytes{1, 2, 3}));
    EXPECT_EQ(calls[2].outData, Bytes{});
    EXPECT_FALSE(calls[3].outData);
}

TEST_F(PtpIpLoopback, HostDataPastTheLimitIsReadPastAndRefused) {
    start();
    auto client = connected();
    const Bytes tooLarge(PtpIpServer::maxHostData + 1, 0x5A);
    BufferSink sink;
    const auto refused = client->transact({0x100D, 1, {}}, ByteView(tooLarge), sink);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused.value().code, 0x2002);
    EXPECT_TRUE(responder->calls().empty());
    EXPECT_TRUE(client->transact({0x1001, 2, {}}, std::nullopt, sink));
    EXPECT_EQ(responder->calls().size(), 1U);
}

}  // namespace
}  // namespace pexil::camera
