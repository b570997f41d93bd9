#include "camera/virtual/VirtualDelivery.h"

#include <QFile>

#include <algorithm>

namespace pexil::camera {

namespace {

constexpr std::size_t kPiece = 1 << 20;

// Where the data phase of `total` bytes that is about to go out stalls, if it does.
std::optional<std::uint64_t> takeStall(VirtualBodyState& s, std::uint64_t total) {
    std::lock_guard lock(s.mutex);
    if (!s.stallAfter || *s.stallAfter >= total) return std::nullopt;
    return std::exchange(s.stallAfter, std::nullopt);
}

// Out of reach until the host gives the link up.
TransportError stall(VirtualBodyState& s, const std::atomic<bool>* closed) {
    std::unique_lock lock(s.mutex);
    s.stalled = true;
    const auto gone = s.initiatorsGone;
    s.log(QString::fromUtf8("仮想カメラ: データの途中で止まりました（圏外）"));
    s.changed.wait(lock, [&] { return s.over(closed) || s.initiatorsGone != gone; });
    s.stalled = false;
    // Events raised meanwhile may go out again.
    s.changed.notify_all();
    return TransportError{QString::fromUtf8("仮想カメラ: 止まっている間に接続が閉じられました")};
}

}  // namespace

void VirtualBodyState::unplug() {
    {
        std::lock_guard lock(mutex);
        unplugged = true;
        if (eventNotice) eventNotice();
    }
    changed.notify_all();
}

bool pauseFor(VirtualBodyState& s, std::chrono::duration<double> period,
              const std::atomic<bool>* closed) {
    if (period.count() <= 0 || !s.options.bodyThread) return !s.over(closed);
    std::unique_lock lock(s.mutex);
    const auto due = s.now() + std::chrono::duration_cast<BodyClock::Duration>(period);
    s.clock->waitUntil(lock, s.changed, due, [&] { return s.over(closed); });
    return !s.over(closed);
}

Result<Response, TransportError> deliverReply(VirtualBodyState& s, const Operation& operation,
                                              Reply reply, DataSink& sink,
                                              const std::atomic<bool>* closed) {
    const auto stopped = [&]() -> std::optional<TransportError> {
        if (s.unplugged) return TransportError{linkGone()};
        if (closed && closed->load()) return TransportError{linkClosed()};
        return std::nullopt;
    };
    const auto throttle = [&](std::size_t bytes) {
        double rate = 0;
        {
            std::lock_guard lock(s.mutex);
            rate = s.bandwidth;
        }
        if (rate <= 0) return true;
        return pauseFor(s, std::chrono::duration<double>(static_cast<double>(bytes) / (rate * 1e6)),
                        closed);
    };
    const auto refused = [] {
        return TransportError{QString::fromUtf8("受け手がデータの受け取りをやめました")};
    };

    if (reply.liveViewSeconds && s.frames) {
        auto frame = s.frames->next(*reply.liveViewSeconds);
        if (frame) {
            reply.data = std::move(frame).value();
        } else {
            s.log(QString::fromUtf8("仮想カメラ: ライブビューの映像を作れません: ") +
                  frame.error());
            reply.code = PTP::code(PTP::Response::generalError);
        }
    }

    if (reply.data) {
        const ByteView data(*reply.data);
        const auto stallAt = takeStall(s, data.size());
        if (!sink.begin(data.size())) return refused();
        for (std::size_t sent = 0; sent < data.size();) {
            if (const auto error = stopped()) return *error;
            std::size_t n = std::min(kPiece, data.size() - sent);
            if (stallAt) n = std::min<std::size_t>(n, static_cast<std::size_t>(*stallAt - sent));
            if (n > 0 && !sink.write(data.subspan(sent, n))) return refused();
            sent += n;
            if (stallAt && sent == *stallAt) return stall(s, closed);
            if (!throttle(n)) return *stopped();
        }
    } else if (reply.file) {
        QFile file(reply.file->path);
        if (!file.open(QIODevice::ReadOnly) ||
            !file.seek(static_cast<qint64>(reply.file->offset))) {
            s.log(QString::fromUtf8("仮想カメラ: カードのファイルを読めません: ") +
                  reply.file->path);
            return Response{PTP::code(PTP::Response::generalError), operation.transactionId, {}};
        }
        const auto size = static_cast<std::uint64_t>(file.size());
        const std::uint64_t available = size > reply.file->offset ? size - reply.file->offset : 0;
        const std::uint64_t total = std::min(available, reply.file->length.value_or(available));
        const auto stallAt = takeStall(s, total);
        if (!sink.begin(total + reply.file->overlong)) return refused();
        Bytes piece;
        for (std::uint64_t sent = 0; sent < total;) {
            if (const auto error = stopped()) return *error;
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, total - sent));
            if (stallAt) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *stallAt - sent));
            const auto cut = reply.file->cutAfter;
            const bool cutting = cut && sent + n >= *cut && *cut < total;
            if (cutting) n = static_cast<std::size_t>(*cut - sent);
            piece.resize(n);
            const qint64 got =
                file.read(reinterpret_cast<char*>(piece.data()), static_cast<qint64>(n));
            if (got != static_cast<qint64>(n))
                return TransportError{
                    QString::fromUtf8("カードのファイルが途中で読めなくなりました: ") +
                    reply.file->path};
            if (n > 0 && !sink.write(piece)) return refused();
            sent += n;
            if (cutting) {
                s.unplug();
                return TransportError{QString::fromUtf8("転送の途中で接続が切れました")};
            }
            if (stallAt && sent == *stallAt) return stall(s, closed);
            if (!throttle(n)) return *stopped();
        }
        // A body gone wrong keeps sending past the end of the object it announced.
        const Bytes filler(kPiece, 0);
        for (std::uint64_t sent = 0; sent < reply.file->overlong;) {
            if (const auto error = stopped()) return *error;
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(kPiece, reply.file->overlong - sent));
            if (!sink.write(ByteView(filler).first(n))) return refused();
            sent += n;
            if (!throttle(n)) return *stopped();
        }
    }
    return Response{reply.code, operation.transactionId, std::move(reply.params)};
}

}  // namespace pexil::camera
