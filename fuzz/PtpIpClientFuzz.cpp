#include "camera/ptpip/PtpIpTransport.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The PTP/IP client as a camera's bytes drive it: both init handshakes, then a transaction
// (data and response packets, probes and events in between) and a few event reads, each
// connection fed its own byte stream. The first two bytes tell how much of the rest is the
// command connection's; the remainder is the event connection's. A stream that ends reads
// as a camera that closed: nothing may hang, overrun, or hold more than the sink's bound.
namespace {

using namespace pexil;
using namespace pexil::camera;

constexpr std::size_t maxInput = 64 << 10;  // fits a socket's buffer: writing never blocks

// One end of a socket pair holding `bytes`, its sending side shut, and the other end.
bool feed(ByteView bytes, int (&pair)[2]) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(pair[1], bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) std::abort();  // the buffer holds maxInput: nothing else can stop it
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(pair[1], SHUT_WR);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > maxInput) return 0;
    const std::size_t split = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
    const ByteView command(data + 2, split);
    const ByteView events(data + 2 + split, size - 2 - split);
    int commandPair[2];
    int eventPair[2];
    if (!feed(command, commandPair)) return 0;
    if (!feed(events, eventPair)) {
        ::close(commandPair[0]);
        ::close(commandPair[1]);
        return 0;
    }
    {
        PtpIpTransport::Options options;
        options.host = "127.0.0.1";
        options.connectTimeout = std::chrono::milliseconds(100);
        options.initTimeout = std::chrono::milliseconds(100);
        options.ioTimeout = std::chrono::milliseconds(100);
        // Small pieces: a data phase then spans several reads, and each run stays cheap.
        options.bufferCapacity = 4096;
        int dialled = 0;
        options.dial = [&](const ptpip::Endpoint&) {
            return dialled++ == 0 ? commandPair[0] : dialled == 2 ? eventPair[0] : -1;
        };
        PtpIpTransport transport(options);
        if (transport.connect()) {
            BufferSink sink(1 << 20);
            (void)transport.transact(Operation{0x1009, 1, {7}}, std::nullopt, sink);
            if (sink.data().size() > (1u << 20)) std::abort();
            const Bytes out(100, 0xAB);
            BufferSink none;
            (void)transport.transact(Operation{0x100D, 2, {}}, ByteView(out), none);
            for (int i = 0; i < 8; ++i)
                if (!transport.waitEvent(std::chrono::milliseconds(0))) break;
        }
        // A pair end never taken by the transport is still ours to close.
        if (dialled < 1) ::close(commandPair[0]);
        if (dialled < 2) ::close(eventPair[0]);
    }
    ::close(commandPair[1]);
    ::close(eventPair[1]);
    return 0;
}
