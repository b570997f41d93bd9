#include "camera/ptpip/PtpIpConnection.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace pexil::camera::ptpip {
namespace {

// Control packets must fit the buffer whole, header and all.
constexpr std::size_t minimumCapacity = maxControlPacket + 64;

IoStatus waitReady(int fd, short events, const Interrupter* wake, Deadline deadline,
                   const Doorbell* bell = nullptr) {
    for (;;) {
        if (wake && wake->signalled()) return IoStatus::interrupted;
        int timeout = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now());
            if (left.count() <= 0) return IoStatus::timedOut;
            timeout = static_cast<int>(std::min<std::int64_t>(left.count(), INT_MAX));
        }
        // poll() skips entries with a negative descriptor.
        std::array<pollfd, 3> fds{pollfd{fd, events, 0}, pollfd{wake ? wake->fd() : -1, POLLIN, 0},
                                  pollfd{bell ? bell->fd() : -1, POLLIN, 0}};
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return IoStatus::failed;
        }
        if (wake && fds[1].revents != 0) return IoStatus::interrupted;
        if (bell && fds[2].revents != 0) return IoStatus::rung;
        // Readiness, an error or a hang-up: the next I/O call says which.
        if (n > 0) return IoStatus::ok;
    }
}

std::string describe(const sockaddr* address, socklen_t length) {
    std::array<char, NI_MAXHOST> host{};
    std::array<char, NI_MAXSERV> service{};
    if (::getnameinfo(address, length, host.data(), host.size(), service.data(), service.size(),
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    if (address->sa_family == AF_INET6)
        return "[" + std::string(host.data()) + "]:" + service.data();
    return std::string(host.data()) + ":" + service.data();
}

}  // namespace

Deadline deadlineAfter(std::chrono::milliseconds timeout) {
    // Past a year the wait is as good as unbounded, and the sum could overflow.
    if (timeout >= std::chrono::hours(24 * 365)) return std::nullopt;
    return SteadyClock::now() + timeout;
}

Interrupter::Interrupter() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("eventfd");
}

Interrupter::~Interrupter() {
    ::close(fd_);
}

void Interrupter::signal() {
    signalled_.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    // Only fails when the counter would overflow, and then it is signalled anyway.
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

Doorbell::Doorbell() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) throw std::runtime_error("eventfd");
}

Doorbell::~Doorbell() {
    ::close(fd_);
}

void Doorbell::ring() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

bool Doorbell::clear() {
    std::uint64_t count = 0;
    return ::read(fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count) && count > 0;
}

Result<std::vector<Endpoint>, std::string> resolve(const std::string& host, std::uint16_t port,
                                                   bool passive) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    const auto service = std::to_string(port);
    const int status = ::getaddrinfo(host.empty() && passive ? nullptr : host.c_str(),
                                     service.c_str(), &hints, &found);
    if (status != 0) return std::string(::gai_strerror(status));
    std::vector<Endpoint> out;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.address, a->ai_addr, a->ai_addrlen);
        endpoint.length = a->ai_addrlen;
        endpoint.text = describe(a->ai_addr, a->ai_addrlen);
        out.push_back(std::move(endpoint));
    }
    ::freeaddrinfo(found);
    if (out.empty()) return std::string("no address");
    return out;
}

Result<PtpIpConnection, int> PtpIpConnection::open(const Endpoint& to, const Interrupter& wake,
                                                   Deadline deadline, std::size_t capacity) {
    const int fd =
        ::socket(to.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return errno;
    PtpIpConnection connection(fd, wake, capacity);
    configure(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to.address), to.length) != 0) {
        if (errno != EINPROGRESS) return errno;
        switch (waitReady(fd, POLLOUT, &wake, deadline)) {
            case IoStatus::ok:
                break;
            case IoStatus::timedOut:
                return ETIMEDOUT;
            case IoStatus::interrupted:
                return EINTR;
            default:
                return errno;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
        if (error != 0) return error;
    }
    return Result<PtpIpConnection, int>(std::move(connection));
}

PtpIpConnection::PtpIpConnection(int fd, const Interrupter& wake, std::size_t capacity,
                                 ByteView pending)
    : fd_(fd),
      wake_(&wake),
      buffer_(std::max({capacity, minimumCapacity, pending.size()})),
      end_(pending.size()) {
    std::copy(pending.begin(), pending.end(), buffer_.begin());
}

PtpIpConnection::~PtpIpConnection() {
    close();
}

PtpIpConnection::PtpIpConnection(PtpIpConnection&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      wake_(other.wake_),
      bell_(other.bell_),
      received_(other.received_.load()),
      sent_(other.sent_.load()),
      buffer_(std::move(other.buffer_)),
      begin_(std::exchange(other.begin_, 0)),
      end_(std::exchange(other.end_, 0)),
      lastError_(other.lastError_) {}

PtpIpConnection& PtpIpConnection::operator=(PtpIpConnection&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        wake_ = other.wake_;
        bell_ = other.bell_;
        received_ = other.received_.load();
        sent_ = other.sent_.load();
        buffer_ = std::move(other.buffer_);
        begin_ = std::exchange(other.begin_, 0);
        end_ = std::exchange(other.end_, 0);
        lastError_ = other.lastError_;
    }
    return *this;
}

void PtpIpConnection::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void PtpIpConnection::configure(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    // Idle 10 s, then a probe every 5 s, given up after 3: a camera whose Wi-Fi went away
    // is noticed in about 25 s instead of the system's two hours.
    const int idle = 10;
    const int interval = 5;
    const int count = 3;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void PtpIpConnection::shutdown() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

IoStatus PtpIpConnection::wait(short events, Deadline deadline, const Doorbell* bell) {
    const auto status = waitReady(fd_, events, wake_, deadline, bell);
    if (status == IoStatus::failed) lastError_ = errno;
    return status;
}

IoStatus PtpIpConnection::fill(Deadline deadline) {
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (end_ == buffer_.size()) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) return IoStatus::malformed;  // no caller asks for more
    for (;;) {
        if (wake_->signalled()) return IoStatus::interrupted;
        const auto n = ::recv(fd_, buffer_.data() + end_, buffer_.size() - end_, MSG_DONTWAIT);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            received_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
            return IoStatus::ok;
        }
        if (n == 0) return IoStatus::closed;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errno;
            return IoStatus::failed;
        }
        if (const auto status = wait(POLLIN, deadline, bell_); status != IoStatus::ok)
            return status;
    }
}

IoStatus PtpIpConnection::need(std::size_t count, Deadline deadline) {
    while (end_ - begin_ < count) {
        if (buffer_.size() - begin_ < count) {
            std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (const auto status = fill(deadline); status != IoStatus::ok) return status;
    }
    return IoStatus::ok;
}

void PtpIpConnection::consume(std::size_t count) {
    begin_ += count;
    if (begin_ == end_) begin_ = end_ = 0;
}

ByteView PtpIpConnection::buffered() const {
    return ByteView(buffer_.data() + begin_, end_ - begin_);
}

IoStatus PtpIpConnection::peekHeader(Header& header, Deadline deadline) {
    if (wake_->signalled()) return IoStatus::interrupted;
    if (const auto status = need(headerSize, deadline); status != IoStatus::ok) return status;
    const auto parsed = parseHeader(buffered());
    if (!parsed) return IoStatus::malformed;
    header = *parsed;
    return IoStatus::ok;
}

IoStatus PtpIpConnection::takePacket(Bytes& packet, Deadline deadline) {
    Header header;
    if (const auto status = peekHeader(header, deadline); status != IoStatus::ok) return status;
    if (header.isData()) return IoStatus::malformed;
    if (const auto status = need(header.length, deadline); status != IoStatus::ok) return status;
    const auto view = buffered().first(header.length);
    packet.assign(view.begin(), view.end());
    consume(header.length);
    return IoStatus::ok;
}

IoStatus PtpIpConnection::takeData(const Header& header, std::uint32_t& transactionId,
                                   const std::function<void(ByteView)>& deliver,
                                   Deadline deadline) {
    if (!header.isData()) return IoStatus::malformed;
    if (const auto status = need(dataHeaderSize, deadline); status != IoStatus::ok) return status;
    const auto head = buffered();
    transactionId = static_cast<std::uint32_t>(head[8]) | static_cast<std::uint32_t>(head[9]) << 8 |
                    static_cast<std::uint32_t>(head[10]) << 16 |
                    static_cast<std::uint32_t>(head[11]) << 24;
    consume(dataHeaderSize);
    std::size_t left = header.length - dataHeaderSize;
    while (left > 0) {
        if (begin_ == end_) {
            if (const auto status = fill(deadline); status != IoStatus::ok) return status;
        }
        const auto piece = buffered().first(std::min(left, end_ - begin_));
        deliver(piece);
        consume(piece.size());
        left -= piece.size();
    }
    return IoStatus::ok;
}

IoStatus PtpIpConnection::skip(const Header& header, Deadline deadline) {
    std::size_t left = header.length;
    while (left > 0) {
        if (begin_ == end_) {
            if (const auto status = fill(deadline); status != IoStatus::ok) return status;
        }
        const auto n = std::min(left, end_ - begin_);
        consume(n);
        left -= n;
    }
    return IoStatus::ok;
}

IoStatus PtpIpConnection::send(ByteView bytes, Deadline deadline) {
    return send(bytes, ByteView{}, deadline);
}

IoStatus PtpIpConnection::send(ByteView head, ByteView body, Deadline deadline) {
    std::array<iovec, 2> parts{
        iovec{const_cast<std::uint8_t*>(head.data()), head.size()},
        iovec{const_cast<std::uint8_t*>(body.data()), body.size()},
    };
    std::size_t first = 0;
    while (first < parts.size() && parts[first].iov_len == 0) ++first;
    while (first < parts.size()) {
        if (wake_->signalled()) return IoStatus::interrupted;
        msghdr message{};
        message.msg_iov = parts.data() + first;
        message.msg_iovlen = parts.size() - first;
        const auto n = ::sendmsg(fd_, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                lastError_ = errno;
                return IoStatus::failed;
            }
            // A send never stops for the doorbell: half a packet would break the stream.
            if (const auto status = wait(POLLOUT, deadline, nullptr); status != IoStatus::ok)
                return status;
            continue;
        }
        auto sent = static_cast<std::size_t>(n);
        sent_.fetch_add(sent, std::memory_order_relaxed);
        while (first < parts.size() && sent >= parts[first].iov_len) {
            sent -= parts[first].iov_len;
            ++first;
        }
        if (first < parts.size()) {
            parts[first].iov_base = static_cast<std::uint8_t*>(parts[first].iov_base) + sent;
            parts[first].iov_len -= sent;
        }
        while (first < parts.size() && parts[first].iov_len == 0) ++first;
    }
    return IoStatus::ok;
}

}  // namespace pexil::camera::ptpip
