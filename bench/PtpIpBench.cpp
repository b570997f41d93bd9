#include "camera/ptpip/PtpIpServer.h"
#include "camera/ptpip/PtpIpTransport.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

// Downloads over PTP/IP on loopback, measured against a raw loopback TCP copy of the
// same bytes in the same run, and the peak resident memory of a 500 MB download.
namespace {

using namespace pexil;
using namespace pexil::camera;
using Clock = std::chrono::steady_clock;

constexpr std::size_t pieceSize = std::size_t{1} << 20;

// Answers every operation with `size` bytes streamed from one prefilled piece, as a camera
// reading its card would.
class StreamingResponder final : public Responder {
public:
    explicit StreamingResponder(std::uint64_t size) : size_(size), piece_(pieceSize, 0x5A) {}

    Result<Response, TransportError> handle(const Operation& operation, std::optional<ByteView>,
                                            DataSink& sink) override {
        if (!sink.begin(size_)) return TransportError{QStringLiteral("refused")};
        for (std::uint64_t sent = 0; sent < size_; sent += pieceSize) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(pieceSize, size_ - sent));
            if (!sink.write(ByteView(piece_).first(n)))
                return TransportError{QStringLiteral("cut")};
        }
        return Response{0x2001, operation.transactionId, {}};
    }

    Result<std::optional<Bytes>, TransportError> waitEvent(
        std::chrono::milliseconds timeout) override {
        std::this_thread::sleep_for(timeout);
        return std::optional<Bytes>();
    }

private:
    std::uint64_t size_;
    Bytes piece_;
};

class DiscardSink final : public DataSink {
public:
    bool begin(std::optional<std::uint64_t>) override { return true; }
    bool write(ByteView piece) override {
        received += piece.size();
        return true;
    }
    std::uint64_t received = 0;
};

struct Loopback {
    explicit Loopback(std::uint64_t size)
        : server(std::make_shared<StreamingResponder>(size), "127.0.0.1", 0) {
        if (!server.start()) throw std::runtime_error("server");
        PtpIpTransport::Options options;
        options.host = "127.0.0.1";
        options.port = server.port();
        client = std::make_unique<PtpIpTransport>(options);
        if (!client->connect()) throw std::runtime_error("connect");
    }
    double download(std::uint64_t size) {
        DiscardSink sink;
        const auto start = Clock::now();
        const auto result = client->transact({0x1009, ++tid, {1}}, std::nullopt, sink);
        const std::chrono::duration<double> took = Clock::now() - start;
        if (!result || sink.received != size) throw std::runtime_error("download");
        return took.count();
    }
    PtpIpServer server;
    std::unique_ptr<PtpIpTransport> client;
    std::uint32_t tid = 0;
};

// The same bytes through one loopback TCP connection: 1 MiB send() calls against 1 MiB
// recv() calls, nothing else.
double rawCopySeconds(std::uint64_t size) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::thread sender([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const Bytes piece(pieceSize, 0x5A);
        for (std::uint64_t sent = 0; sent < size;) {
            const auto n = std::min<std::uint64_t>(pieceSize, size - sent);
            const auto written = ::send(fd, piece.data(), n, MSG_NOSIGNAL);
            if (written <= 0) break;
            sent += static_cast<std::uint64_t>(written);
        }
        ::close(fd);
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    Bytes buffer(pieceSize);
    const auto start = Clock::now();
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::uint64_t received = 0;
    for (;;) {
        const auto n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        received += static_cast<std::uint64_t>(n);
        benchmark::DoNotOptimize(buffer.data());
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    sender.join();
    ::close(fd);
    ::close(listener);
    if (received != size) throw std::runtime_error("raw copy");
    return took.count();
}

// VmHWM (peak resident set) in KiB from /proc/self/status.
double peakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
    return 0;
}

void BM_PtpIpDownloadVersusRawCopy(benchmark::State& state) {
    const auto size = static_cast<std::uint64_t>(state.range(0)) << 20;
    Loopback loopback(size);
    double raw = 0;
    double ptpip = 0;
    double bestRaw = 1e9;
    double bestPtpip = 1e9;
    for (auto _ : state) {
        // Interleaved, so that both see the same machine load.
        const double rawRun = rawCopySeconds(size);
        const double ptpipRun = loopback.download(size);
        raw += rawRun;
        ptpip += ptpipRun;
        bestRaw = std::min(bestRaw, rawRun);
        bestPtpip = std::min(bestPtpip, ptpipRun);
    }
    const auto bytes = static_cast<double>(size) * static_cast<double>(state.iterations());
    // PTP/IP throughput over raw throughput (goal >= 0.9): of the best runs, which a busy
    // machine disturbs least, and of all runs.
    state.counters["ratio"] = bestRaw / bestPtpip;
    state.counters["ratio_all"] = raw / ptpip;
    state.counters["ptpip_MBps"] = bytes / ptpip / 1e6;
    state.counters["raw_MBps"] = bytes / raw / 1e6;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_PtpIpDownloadVersusRawCopy)
    ->Arg(256)
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PtpIpPeakMemory500MB(benchmark::State& state) {
    constexpr std::uint64_t size = 500ULL << 20;
    Loopback loopback(size);
    // Forget the peak of whatever ran before (Linux: "5" resets VmHWM to the current size).
    std::ofstream("/proc/self/clear_refs") << "5";
    const auto before = peakResidentKiB();
    for (auto _ : state) loopback.download(size);
    state.counters["VmHWM_MB"] = peakResidentKiB() / 1024;  // goal < 64
    state.counters["before_MB"] = before / 1024;
    state.SetBytesProcessed(static_cast<std::int64_t>(size * state.iterations()));
}
BENCHMARK(BM_PtpIpPeakMemory500MB)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
