#include "camera/usb/UsbTransport.h"

#include "camera/usb/UsbContainer.h"
#include "camera/usb/UsbDescriptors.h"
#include "camera/usb/UsbFailure.h"

#include <libusb.h>

#include <QString>

#include <sys/time.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace pexil::camera {

using namespace usbdetail;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

namespace {

// How long one wait inside libusb lasts before the thread looks at interrupt() again.
constexpr milliseconds eventSlice{100};
// How long a cancelled transfer may take to come back from the kernel.
constexpr milliseconds cancelGrace{2000};
constexpr milliseconds controlTimeout{1000};
// After a cancelled transaction: how long the bulk-in pipe must stay quiet to count as empty.
constexpr milliseconds drainTimeout{50};
constexpr int drainReads = 8;
constexpr milliseconds busyPoll{50};
// Further packets of an event container follow the first at once.
constexpr milliseconds eventContinuation{1000};
constexpr int maxStrayZeroPackets = 4;

template <class T>
using IoResult = Result<T, Failure>;

unsigned int timeoutMs(milliseconds timeout) {
    // libusb reads 0 as "no time-out"; every wait here has one.
    return static_cast<unsigned int>(std::clamp<long long>(timeout.count(), 1, UINT_MAX));
}

std::size_t roundUp(std::uint64_t value, std::size_t unit) {
    return static_cast<std::size_t>((value + unit - 1) / unit * unit);
}

// A transfer and the flag its callback sets; kept together so that a transfer the kernel
// never returns can be parked, flag included, until the device is closed.
struct Pending {
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    int completed = 0;
    Pending() = default;
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;
    ~Pending() {
        if (transfer) libusb_free_transfer(transfer);
    }
};

void LIBUSB_CALL markCompleted(libusb_transfer* transfer) {
    std::atomic_ref<int>(*static_cast<int*>(transfer->user_data))
        .store(1, std::memory_order_release);
}

bool isCompleted(Pending& pending) {
    return std::atomic_ref<int>(pending.completed).load(std::memory_order_acquire) != 0;
}

// The wire of a UsbTransport.
struct UsbLink final : public Link {
    UsbLink(UsbAddress where, UsbTransportOptions opts)
        : Link({.closed = messageFor(failure(Failure::Kind::interrupted)),
                .notConnected = QStringLiteral("USB のカメラにまだつないでいない。"),
                .tooManyParams =
                    [](std::size_t count) {
                        return QStringLiteral("PTP の要求に引数が多すぎる（%1 個、最大 5 個）。")
                            .arg(count);
                    }}),
          address(where),
          options(opts) {
        initError = libusb_init(&context);
        if (initError != 0) context = nullptr;
    }
    ~UsbLink() override;

    Result<Done, TransportError> open() override;
    Result<Response, TransportError> exchange(const Operation& op, std::optional<ByteView> outData,
                                              DataSink& sink) override;
    Result<std::optional<Bytes>, TransportError> nextEvent(milliseconds timeout) override;
    void close(bool first) override;

    // The link has ended: interrupt(), or a transfer the kernel would not give back.
    bool interrupted() const { return closed(); }
    void abandon() { end(TransportError{texts().closed}); }
    IoResult<Response> carry(const Operation& operation, std::optional<ByteView> outData,
                             DataSink& sink);
    IoResult<Done> writeOut(std::size_t length);
    IoResult<Done> sendData(const Operation& operation, ByteView data);
    IoResult<std::size_t> readStart();
    IoResult<Response> receive(DataSink& sink);
    IoResult<Done> receiveData(const UsbContainer::Header& header, ByteView first, DataSink& sink,
                               Bytes& rest);
    void recover(std::uint32_t transactionId, const Failure& cause);
    void drainIn();
    void clearHalt(std::uint8_t endpoint);
    IoResult<ByteView> classRequest(bool toHost, std::uint8_t request, ByteView out,
                                    std::uint16_t inLength);

    IoResult<std::size_t> transfer(unsigned char endpoint, unsigned char type,
                                   unsigned char* buffer, std::size_t length, milliseconds timeout);
    IoResult<std::size_t> execute(std::unique_ptr<Pending> pending, milliseconds timeout);
    void pause(milliseconds duration);

    const UsbAddress address;
    const UsbTransportOptions options;
    libusb_context* context = nullptr;
    int initError = 0;

    // Set by connect() before the link counts as connected; read-only afterwards.
    libusb_device_handle* handle = nullptr;
    PtpInterface ptp;
    std::size_t chunk = 0;
    bool claimed = false;
    bool detachedDriver = false;

    std::mutex pauseMutex;
    std::condition_variable pauseWake;
    std::mutex abandonedMutex;
    std::vector<std::unique_ptr<Pending>> abandoned;

    // Used by the transact() thread only.
    std::vector<unsigned char> inBuffer;
    std::vector<unsigned char> outBuffer;
    std::array<unsigned char, LIBUSB_CONTROL_SETUP_SIZE + 64> controlBuffer{};
    // Used by the waitEvent() thread only.
    std::vector<unsigned char> eventBuffer;
};

}  // namespace

UsbLink::~UsbLink() {
    abandon();
    if (handle) {
        if (claimed) libusb_release_interface(handle, ptp.number);
        if (detachedDriver) libusb_attach_kernel_driver(handle, ptp.number);
        libusb_close(handle);
    }
    // Closing took the parked transfers off the device; only now may they be freed.
    abandoned.clear();
    if (context) libusb_exit(context);
}

Result<Done, TransportError> UsbLink::open() {
    if (!context)
        return TransportError{QStringLiteral("USB を使えない（%1）。").arg(errorName(initError))};

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0)
        return TransportError{QStringLiteral("USB 機器の一覧を読めない（%1）。")
                                  .arg(errorName(static_cast<int>(count)))};
    DeviceRef device;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == address.bus &&
            libusb_get_device_address(list[i]) == address.address) {
            device.reset(libusb_ref_device(list[i]));
            break;
        }
    }
    libusb_free_device_list(list, 1);
    if (!device) return TransportError{goneMessage(address)};

    const auto found = findPtpInterface(device.get());
    if (!found)
        return TransportError{
            QStringLiteral("USB 機器（%1）に静止画（PTP）のインターフェースがない。"
                           "カメラの USB 接続の設定を PTP（または MTP/PTP）にしてください。")
                .arg(addressText(address))};

    libusb_device_handle* opened = nullptr;
    if (const int rc = libusb_open(device.get(), &opened); rc != 0) {
        if (rc == LIBUSB_ERROR_NO_DEVICE || rc == LIBUSB_ERROR_NOT_FOUND)
            return TransportError{goneMessage(address)};
        return TransportError{openFailure(rc)};
    }
    DeviceHandle owned(opened);

    // A kernel driver bound to the PTP interface would make the claim fail; a failure to
    // ask or to detach is left for the claim to report.
    bool detached = false;
    if (libusb_kernel_driver_active(opened, found->number) == 1)
        detached = libusb_detach_kernel_driver(opened, found->number) == 0;
    if (const int rc = libusb_claim_interface(opened, found->number); rc != 0) {
        if (detached) libusb_attach_kernel_driver(opened, found->number);
        if (rc == LIBUSB_ERROR_NO_DEVICE) return TransportError{goneMessage(address)};
        return TransportError{openFailure(rc)};
    }
    if (found->alternate != 0) {
        if (const int rc =
                libusb_set_interface_alt_setting(opened, found->number, found->alternate);
            rc != 0) {
            libusb_release_interface(opened, found->number);
            if (detached) libusb_attach_kernel_driver(opened, found->number);
            return TransportError{openFailure(rc)};
        }
    }

    ptp = *found;
    handle = owned.release();
    claimed = true;
    detachedDriver = detached;
    // Whole packets only, so that every transfer but the last of a data phase ends on a
    // packet boundary and never reads as the end of the container.
    const std::size_t packet = std::max(ptp.packetIn, ptp.packetOut);
    chunk = std::max(options.chunkSize / packet * packet, roundUp(512, packet));
    inBuffer.resize(chunk);
    outBuffer.resize(chunk);
    eventBuffer.resize(std::max<std::size_t>(ptp.packetEvent, 1));
    return Done{};
}

Result<Response, TransportError> UsbLink::exchange(const Operation& operation,
                                                   std::optional<ByteView> outData,
                                                   DataSink& sink) {
    auto result = carry(operation, outData, sink);
    if (result) return std::move(result).value();
    const Failure cause = result.error();
    if (cause.kind != Failure::Kind::noDevice && cause.kind != Failure::Kind::interrupted &&
        !interrupted())
        recover(operation.transactionId, cause);
    return TransportError{messageFor(cause)};
}

IoResult<Response> UsbLink::carry(const Operation& operation, std::optional<ByteView> outData,
                                  DataSink& sink) {
    const Bytes command = UsbContainer::command(operation);
    std::copy(command.begin(), command.end(), outBuffer.begin());
    if (auto sent = writeOut(command.size()); !sent) return sent.error();
    if (command.size() % ptp.packetOut == 0) {
        if (auto sent = writeOut(0); !sent) return sent.error();
    }
    if (outData) {
        if (auto sent = sendData(operation, *outData); !sent) return sent.error();
    }
    return receive(sink);
}

IoResult<Done> UsbLink::writeOut(std::size_t length) {
    auto written = transfer(ptp.bulkOut, LIBUSB_TRANSFER_TYPE_BULK, outBuffer.data(), length,
                            options.transferTimeout);
    if (!written) return written.error();
    if (written.value() != length) return fromError(LIBUSB_ERROR_IO);
    return Done{};
}

IoResult<Done> UsbLink::sendData(const Operation& operation, ByteView data) {
    const Bytes header =
        UsbContainer::dataHeader(operation.code, operation.transactionId, data.size());
    // Header and the first bytes in one transfer: some cameras expect the container to
    // start that way.
    std::copy(header.begin(), header.end(), outBuffer.begin());
    const std::size_t first = std::min(data.size(), chunk - header.size());
    std::copy_n(data.begin(), first,
                outBuffer.begin() + static_cast<std::ptrdiff_t>(header.size()));
    if (auto sent = writeOut(header.size() + first); !sent) return sent;
    for (std::size_t offset = first; offset < data.size();) {
        const std::size_t n = std::min(chunk, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), n, outBuffer.begin());
        if (auto sent = writeOut(n); !sent) return sent;
        offset += n;
    }
    // A container that ends on a packet boundary needs a zero-length packet to end.
    if ((header.size() + data.size()) % ptp.packetOut == 0) return writeOut(0);
    return Done{};
}

IoResult<std::size_t> UsbLink::readStart() {
    // A zero-length packet here is the end of the previous container, sent because it
    // filled whole packets.
    for (int i = 0; i <= maxStrayZeroPackets; ++i) {
        auto n = transfer(ptp.bulkIn, LIBUSB_TRANSFER_TYPE_BULK, inBuffer.data(), chunk,
                          options.transferTimeout);
        if (!n || n.value() > 0) return n;
    }
    return protocolFailure(QStringLiteral("空のパケットばかり"));
}

IoResult<Response> UsbLink::receive(DataSink& sink) {
    auto received = readStart();
    if (!received) return received.error();
    const ByteView first(inBuffer.data(), received.value());
    const auto header = UsbContainer::parseHeader(first);
    if (!header) return protocolFailure(QStringLiteral("%1 バイトの切れ端").arg(first.size()));

    Bytes rest;
    if (header->type == static_cast<std::uint16_t>(UsbContainer::Type::data)) {
        if (auto data = receiveData(*header, first, sink, rest); !data) return data.error();
        if (rest.empty()) {
            received = readStart();
            if (!received) return received.error();
            rest.assign(inBuffer.begin(),
                        inBuffer.begin() + static_cast<std::ptrdiff_t>(received.value()));
        }
    } else {
        rest.assign(first.begin(), first.end());
    }

    if (auto response = UsbContainer::parseResponse(rest)) return *response;
    const auto got = UsbContainer::parseHeader(rest);
    if (!got) return protocolFailure(QStringLiteral("%1 バイトの切れ端").arg(rest.size()));
    return protocolFailure(
        QStringLiteral("応答のはずが種類 %1、長さ %2").arg(got->type).arg(got->length));
}

IoResult<Done> UsbLink::receiveData(const UsbContainer::Header& header, ByteView first,
                                    DataSink& sink, Bytes& rest) {
    const bool known = header.length != UsbContainer::unknownLength;
    if (known && header.length < UsbContainer::headerSize)
        return protocolFailure(QStringLiteral("データの長さ %1").arg(header.length));
    std::optional<std::uint64_t> total;
    if (known) total = header.length - UsbContainer::headerSize;
    if (!sink.begin(total)) return refusal(QStringLiteral("受け取り側が断った"));

    const std::size_t firstEnd =
        known ? std::min<std::size_t>(first.size(), header.length) : first.size();
    const ByteView piece =
        first.subspan(UsbContainer::headerSize, firstEnd - UsbContainer::headerSize);
    if (!piece.empty() && !sink.write(piece)) return refusal(QStringLiteral("受け取り側が止めた"));
    // A device that sends no zero-length packet after a container filling whole packets
    // runs the response into the same transfer.
    if (known && first.size() > header.length)
        rest.assign(first.begin() + header.length, first.end());
    bool ended = first.size() < chunk;

    if (!known) {
        // Beyond 4 GiB the length is not given: the data ends with the first short transfer.
        while (!ended) {
            auto n = transfer(ptp.bulkIn, LIBUSB_TRANSFER_TYPE_BULK, inBuffer.data(), chunk,
                              options.transferTimeout);
            if (!n) return n.error();
            if (n.value() > 0 && !sink.write(ByteView(inBuffer.data(), n.value())))
                return refusal(QStringLiteral("受け取り側が止めた"));
            ended = n.value() < chunk;
        }
        return Done{};
    }

    std::uint64_t received = firstEnd - UsbContainer::headerSize;
    while (received < *total) {
        if (ended)
            return protocolFailure(
                QStringLiteral("データが %1 / %2 バイトで終わった").arg(received).arg(*total));
        const std::uint64_t left = *total - received;
        // Asking for exactly what is left (in whole packets) keeps the response out of the
        // data even when the device sends no zero-length packet.
        const std::size_t want = std::min<std::size_t>(chunk, roundUp(left, ptp.packetIn));
        auto n = transfer(ptp.bulkIn, LIBUSB_TRANSFER_TYPE_BULK, inBuffer.data(), want,
                          options.transferTimeout);
        if (!n) return n.error();
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n.value(), left));
        if (take > 0 && !sink.write(ByteView(inBuffer.data(), take)))
            return refusal(QStringLiteral("受け取り側が止めた"));
        if (n.value() > take)
            rest.assign(inBuffer.begin() + static_cast<std::ptrdiff_t>(take),
                        inBuffer.begin() + static_cast<std::ptrdiff_t>(n.value()));
        received += take;
        ended = n.value() < want;
    }
    return Done{};
}

void UsbLink::recover(std::uint32_t transactionId, const Failure& cause) {
    // A stall is the device ending the transaction itself; everything else is the host
    // giving it up, which the device must be told.
    const bool hostAbandons = cause.kind != Failure::Kind::stalled;
    if (hostAbandons) {
        const Bytes data = UsbContainer::cancelData(transactionId);
        classRequest(false, UsbContainer::cancelRequest, data, 0);
    }

    const auto deadline = SteadyClock::now() + options.recoveryTimeout;
    bool answered = false;
    bool busy = false;
    std::vector<std::uint8_t> cleared;
    while (!interrupted()) {
        auto reply = classRequest(true, UsbContainer::getDeviceStatusRequest, {}, 64);
        if (!reply) break;
        const auto status = UsbContainer::parseDeviceStatus(reply.value());
        if (!status) break;
        answered = true;
        busy = status->code == PTP::Response::deviceBusy;
        if (busy) {
            if (SteadyClock::now() >= deadline) break;
            pause(busyPoll);
            continue;
        }
        for (const auto endpoint : status->endpoints) {
            clearHalt(endpoint);
            cleared.push_back(endpoint);
        }
        break;
    }
    if (interrupted()) return;

    if (!answered) {
        // No status to go by: both bulk pipes may have been halted.
        clearHalt(ptp.bulkIn);
        clearHalt(ptp.bulkOut);
    } else if (cause.kind == Failure::Kind::stalled &&
               std::find(cleared.begin(), cleared.end(), cause.endpoint) == cleared.end()) {
        clearHalt(cause.endpoint);
    }
    if (busy) {
        // Still busy when the recovery time ran out: start the device's PTP side afresh.
        classRequest(false, UsbContainer::deviceResetRequest, {}, 0);
        clearHalt(ptp.bulkIn);
        clearHalt(ptp.bulkOut);
    }
    if (hostAbandons) drainIn();
}

void UsbLink::drainIn() {
    for (int i = 0; i < drainReads && !interrupted(); ++i) {
        auto n =
            transfer(ptp.bulkIn, LIBUSB_TRANSFER_TYPE_BULK, inBuffer.data(), chunk, drainTimeout);
        if (!n) {
            if (n.error().kind == Failure::Kind::stalled) clearHalt(ptp.bulkIn);
            return;
        }
    }
}

void UsbLink::clearHalt(std::uint8_t endpoint) {
    if (endpoint != 0) libusb_clear_halt(handle, endpoint);
}

IoResult<ByteView> UsbLink::classRequest(bool toHost, std::uint8_t request, ByteView out,
                                         std::uint16_t inLength) {
    const int direction = toHost ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT;
    const auto type = static_cast<std::uint8_t>(direction | int{LIBUSB_REQUEST_TYPE_CLASS} |
                                                int{LIBUSB_RECIPIENT_INTERFACE});
    const std::size_t length = std::min<std::size_t>(
        toHost ? inLength : out.size(), controlBuffer.size() - LIBUSB_CONTROL_SETUP_SIZE);
    libusb_fill_control_setup(controlBuffer.data(), type, request, 0,
                              static_cast<std::uint16_t>(ptp.number),
                              static_cast<std::uint16_t>(length));
    if (!toHost)
        std::copy_n(out.begin(), length, controlBuffer.begin() + LIBUSB_CONTROL_SETUP_SIZE);
    auto pending = std::make_unique<Pending>();
    if (!pending->transfer) return fromError(LIBUSB_ERROR_NO_MEM);
    libusb_fill_control_transfer(pending->transfer, handle, controlBuffer.data(), markCompleted,
                                 &pending->completed, timeoutMs(controlTimeout));
    auto n = execute(std::move(pending), controlTimeout);
    if (!n) return n.error();
    return ByteView(controlBuffer.data() + LIBUSB_CONTROL_SETUP_SIZE, n.value());
}

IoResult<std::size_t> UsbLink::transfer(unsigned char endpoint, unsigned char type,
                                        unsigned char* buffer, std::size_t length,
                                        milliseconds timeout) {
    if (interrupted()) return failure(Failure::Kind::interrupted);
    auto pending = std::make_unique<Pending>();
    if (!pending->transfer) return fromError(LIBUSB_ERROR_NO_MEM);
    if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT)
        libusb_fill_interrupt_transfer(pending->transfer, handle, endpoint, buffer,
                                       static_cast<int>(length), markCompleted, &pending->completed,
                                       timeoutMs(timeout));
    else
        libusb_fill_bulk_transfer(pending->transfer, handle, endpoint, buffer,
                                  static_cast<int>(length), markCompleted, &pending->completed,
                                  timeoutMs(timeout));
    return execute(std::move(pending), timeout);
}

IoResult<std::size_t> UsbLink::execute(std::unique_ptr<Pending> pending, milliseconds timeout) {
    libusb_transfer* const t = pending->transfer;
    if (const int rc = libusb_submit_transfer(t); rc != 0) return fromError(rc);

    // libusb ends the transfer at its time-out; the extra grace only guards against an
    // event loop that stopped working.
    const auto hardDeadline = SteadyClock::now() + timeout + cancelGrace;
    std::optional<SteadyClock::time_point> cancelDeadline;
    while (!isCompleted(*pending)) {
        if (!cancelDeadline && (interrupted() || SteadyClock::now() > hardDeadline)) {
            libusb_cancel_transfer(t);
            cancelDeadline = SteadyClock::now() + cancelGrace;
        }
        timeval slice{0, static_cast<suseconds_t>(eventSlice.count() * 1000)};
        libusb_handle_events_timeout_completed(context, &slice, &pending->completed);
        if (cancelDeadline && SteadyClock::now() > *cancelDeadline && !isCompleted(*pending)) {
            // The kernel kept the transfer: park it, and with it every buffer it may still
            // write to, and let nothing else through.
            abandon();
            std::lock_guard lock(abandonedMutex);
            abandoned.push_back(std::move(pending));
            return failure(Failure::Kind::interrupted);
        }
    }

    switch (t->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return static_cast<std::size_t>(t->actual_length);
        case LIBUSB_TRANSFER_TIMED_OUT:
            return failure(Failure::Kind::timedOut);
        case LIBUSB_TRANSFER_CANCELLED:
            return failure(interrupted() ? Failure::Kind::interrupted : Failure::Kind::timedOut);
        case LIBUSB_TRANSFER_STALL: {
            Failure f = failure(Failure::Kind::stalled);
            f.endpoint = t->endpoint;
            return f;
        }
        case LIBUSB_TRANSFER_NO_DEVICE:
            return failure(Failure::Kind::noDevice);
        case LIBUSB_TRANSFER_OVERFLOW:
            return failure(Failure::Kind::overflow);
        case LIBUSB_TRANSFER_ERROR:
        default:
            return fromError(LIBUSB_ERROR_IO);
    }
}

void UsbLink::pause(milliseconds duration) {
    std::unique_lock lock(pauseMutex);
    pauseWake.wait_for(lock, duration, [this] { return interrupted(); });
}

Result<std::optional<Bytes>, TransportError> UsbLink::nextEvent(milliseconds timeout) {
    using Event = std::optional<Bytes>;
    if (ptp.eventIn == 0) {
        pause(timeout);
        if (interrupted()) return TransportError{messageFor(failure(Failure::Kind::interrupted))};
        return Event{};
    }

    // Time-outs and junk on the interrupt pipe are no events; only a gone or closed link
    // is an error.
    const auto read =
        [this](milliseconds wait) -> Result<std::optional<std::size_t>, TransportError> {
        auto n = transfer(ptp.eventIn, LIBUSB_TRANSFER_TYPE_INTERRUPT, eventBuffer.data(),
                          eventBuffer.size(), wait);
        if (n) return std::optional<std::size_t>(n.value());
        switch (n.error().kind) {
            case Failure::Kind::timedOut:
            case Failure::Kind::overflow:
                return std::optional<std::size_t>{};
            case Failure::Kind::stalled:
                clearHalt(ptp.eventIn);
                return std::optional<std::size_t>{};
            default:
                return TransportError{messageFor(n.error())};
        }
    };

    auto first = read(timeout);
    if (!first) return first.error();
    if (!first.value() || *first.value() < 4) return Event{};
    Bytes event(eventBuffer.begin(),
                eventBuffer.begin() + static_cast<std::ptrdiff_t>(*first.value()));
    const std::uint32_t length = static_cast<std::uint32_t>(event[0]) | event[1] << 8 |
                                 event[2] << 16 | static_cast<std::uint32_t>(event[3]) << 24;
    if (length < UsbContainer::headerSize || length > UsbContainer::maxSmallContainer)
        return Event{};
    // An endpoint with small packets delivers the container in pieces.
    while (event.size() < length) {
        auto more = read(eventContinuation);
        if (!more) return more.error();
        if (!more.value() || *more.value() == 0) return Event{};
        event.insert(event.end(), eventBuffer.begin(),
                     eventBuffer.begin() + static_cast<std::ptrdiff_t>(*more.value()));
    }
    return UsbContainer::parseEvent(event);
}

void UsbLink::close(bool) {
    { std::lock_guard lock(pauseMutex); }
    pauseWake.notify_all();
    if (context) libusb_interrupt_event_handler(context);
}

UsbTransport::UsbTransport(UsbAddress address, UsbTransportOptions options)
    : LinkTransport(std::make_unique<UsbLink>(address, options), std::nullopt) {}

UsbTransport::~UsbTransport() = default;

std::size_t UsbTransport::maxPacketSize() const {
    return connected() ? static_cast<const UsbLink&>(link()).ptp.packetIn : 0;
}

}  // namespace pexil::camera
