#pragma once

// Test helpers for the USB code under umockdev: a testbed holding fake sysfs devices, and
// a camera behind /dev/bus/usb/BBB/AAA that answers usbdevfs ioctls from a script of PTP
// containers. The test binary must run under umockdev-wrapper (LD_PRELOAD of
// libumockdev-preload), which redirects /sys, /dev and the uevent socket to the testbed.

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTP.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/syscall.h>
#include <unistd.h>

// GLib names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <umockdev.h>
#pragma pop_macro("signals")

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pexil::testing {

inline std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A PTP container built field by field, as a camera or host would put it on the wire.
inline Bytes container(std::uint16_t type, std::uint16_t code, std::uint32_t transactionId,
                       const std::vector<std::uint32_t>& params = {}, const Bytes& payload = {}) {
    Bytes out;
    PTP::appendLE(out, static_cast<std::uint32_t>(12 + 4 * params.size() + payload.size()));
    PTP::appendLE(out, type);
    PTP::appendLE(out, code);
    PTP::appendLE(out, transactionId);
    for (auto p : params) PTP::appendLE(out, p);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// Runs the Qt event loop until `done()` holds or `limit` of real time passed.
inline bool processEventsUntil(const std::function<bool()>& done, int limitMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// While alive, this thread does without the root privilege of ignoring file permissions,
// so that a test running as root still meets the permission checks of an ordinary user.
class WithoutFileOverride {
public:
    WithoutFileOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        header_.pid = 0;
        syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, saved_, sizeof(reduced));
        reduced[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
        syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutFileOverride() { syscall(SYS_capset, &header_, saved_); }
    WithoutFileOverride(const WithoutFileOverride&) = delete;
    WithoutFileOverride& operator=(const WithoutFileOverride&) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
};

// A camera at the usbdevfs level. The script lists, per transaction, the exact command
// container (and data container) the host must send and the containers to answer with;
// anything else is noted in problems() and left unanswered, so the host times out.
// Control requests, cleared halts and every bulk-out transfer are recorded.
//
// Threads: umockdev calls the handler on its own worker thread; every public member may
// be called from the test's thread meanwhile.
class FakeUsbCamera {
public:
    struct Exchange {
        Bytes command;
        std::optional<Bytes> data;   // the host's data container that must follow
        std::vector<Bytes> replies;  // containers sent on bulk-in, in order
        bool stall = false;          // stall bulk-in instead of answering
    };
    struct Control {
        std::uint8_t requestType = 0;
        std::uint8_t request = 0;
        std::uint16_t value = 0;
        std::uint16_t index = 0;
        Bytes data;
    };

    explicit FakeUsbCamera(std::size_t packet = 512, std::size_t eventPacket = 8)
        : packet_(packet), eventPacket_(eventPacket), handler_(umockdev_ioctl_base_new()) {
        g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(&FakeUsbCamera::onIoctl), this);
        strings_[1] = QStringLiteral("Nikon");
        strings_[2] = QStringLiteral("NIKON DSC D850");
        strings_[3] = QStringLiteral("3000123");
    }
    ~FakeUsbCamera() {
        g_signal_handlers_disconnect_by_data(handler_, this);
        std::lock_guard lock(mutex_);
        for (auto* queue : {&ready_, &waitingIn_, &waitingEvent_, &discarded_})
            for (auto& urb : *queue) g_object_unref(urb.data);
        g_object_unref(handler_);
    }
    FakeUsbCamera(const FakeUsbCamera&) = delete;
    FakeUsbCamera& operator=(const FakeUsbCamera&) = delete;

    UMockdevIoctlBase* handler() const { return handler_; }

    void expect(Exchange exchange) {
        std::lock_guard lock(mutex_);
        script_.push_back(std::move(exchange));
    }
    void queueEvent(const Bytes& event) {
        std::lock_guard lock(mutex_);
        for (std::size_t at = 0; at < event.size(); at += eventPacket_)
            eventPackets_.push_back({Bytes(event.begin() + static_cast<std::ptrdiff_t>(at),
                                           event.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                               event.size(), at + eventPacket_))),
                                     false});
    }
    // Bulk-in bytes the device sends outside any script step (stale data, say).
    void queueIn(const Bytes& container) {
        std::lock_guard lock(mutex_);
        sendLocked(container);
    }
    void setClaimErrno(int error) {
        std::lock_guard lock(mutex_);
        claimErrno_ = error;
    }
    // Whether a container filling whole packets is followed by a zero-length packet.
    void setZeroLengthPackets(bool on) {
        std::lock_guard lock(mutex_);
        zeroLengthPackets_ = on;
    }
    void setString(std::uint8_t index, QString text) {
        std::lock_guard lock(mutex_);
        strings_[index] = std::move(text);
    }
    // Answers to Get Device Status, in order; the last one repeats. Default: OK, no endpoint.
    void setStatusReplies(std::vector<Bytes> replies) {
        std::lock_guard lock(mutex_);
        statusReplies_ = std::move(replies);
    }
    static Bytes status(std::uint16_t code, std::vector<std::uint32_t> endpoints = {}) {
        Bytes out;
        PTP::appendLE(out, static_cast<std::uint16_t>(4 + 4 * endpoints.size()));
        PTP::appendLE(out, code);
        for (auto e : endpoints) PTP::appendLE(out, e);
        return out;
    }
    // From now on every transfer fails as on a device that was pulled out.
    void unplug() {
        std::lock_guard lock(mutex_);
        unplugged_ = true;
        for (auto* queue : {&waitingIn_, &waitingEvent_}) {
            for (auto& urb : *queue) {
                urb.status = -ENODEV;
                ready_.push_back(urb);
            }
            queue->clear();
        }
    }

    std::vector<Bytes> bulkOut() const {
        std::lock_guard lock(mutex_);
        return bulkOut_;
    }
    std::vector<Control> controls() const {
        std::lock_guard lock(mutex_);
        return controls_;
    }
    std::vector<unsigned> clearedHalts() const {
        std::lock_guard lock(mutex_);
        return clearedHalts_;
    }
    std::vector<std::string> problems() const {
        std::lock_guard lock(mutex_);
        return problems_;
    }
    std::size_t remaining() const {
        std::lock_guard lock(mutex_);
        return script_.size();
    }
    int claims() const {
        std::lock_guard lock(mutex_);
        return claims_;
    }
    std::size_t pendingIn() const {
        std::lock_guard lock(mutex_);
        return inPackets_.size();
    }
    // Waits until the host has at least `in` bulk-in and `events` interrupt transfers
    // submitted and unanswered: the calls behind them are blocked on the device. False when
    // `limit` passed first.
    bool waitForBlockedTransfers(std::size_t in, std::size_t events,
                                 std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex_);
        return submitted_.wait_for(
            lock, limit, [&] { return waitingIn_.size() >= in && waitingEvent_.size() >= events; });
    }

private:
    struct Packet {
        Bytes bytes;
        bool stall = false;
    };
    struct Urb {
        UMockdevIoctlData* data = nullptr;  // the resolved usbdevfs_urb, buffer resolved too
        unsigned long clientAddress = 0;
        int status = 0;
        std::size_t actual = 0;  // bytes moved
        Bytes reply;             // what an IN transfer returns
        std::size_t offset = 0;  // where the reply goes in the buffer (8 for control)
    };

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<FakeUsbCamera*>(self)->handle(client);
    }

    gboolean handle(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex_);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* caps =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
                const std::uint32_t value =
                    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                    USBDEVFS_CAP_ZERO_PACKET;
                std::memcpy(caps->data, &value, sizeof(value));
                umockdev_ioctl_client_complete(client, 0, 0);
                g_object_unref(caps);
                return TRUE;
            }
            case USBDEVFS_CLAIMINTERFACE:
                if (claimErrno_ != 0) {
                    umockdev_ioctl_client_complete(client, -1, claimErrno_);
                    return TRUE;
                }
                ++claims_;
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_SETINTERFACE:
            case USBDEVFS_RESET:
            case USBDEVFS_RESETEP:
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL:
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                return TRUE;
            case USBDEVFS_CLEAR_HALT: {
                UMockdevIoctlData* ep =
                    umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
                unsigned endpoint = 0;
                std::memcpy(&endpoint, ep->data, sizeof(endpoint));
                clearedHalts_.push_back(endpoint);
                umockdev_ioctl_client_complete(client, 0, 0);
                g_object_unref(ep);
                return TRUE;
            }
            case USBDEVFS_SUBMITURB:
                submit(client, arg);
                return TRUE;
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                reap(client, arg);
                return TRUE;
            case USBDEVFS_DISCARDURB: {
                unsigned long address = 0;
                std::memcpy(&address, arg->data, sizeof(address));
                for (auto* queue : {&waitingIn_, &waitingEvent_}) {
                    for (auto it = queue->begin(); it != queue->end(); ++it) {
                        if (it->clientAddress != address) continue;
                        it->status = -ENOENT;
                        discarded_.push_back(*it);
                        queue->erase(it);
                        umockdev_ioctl_client_complete(client, 0, 0);
                        return TRUE;
                    }
                }
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return TRUE;
            }
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        if (unplugged_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
        const std::size_t length = static_cast<std::size_t>(std::max(urb->buffer_length, 0));
        Bytes buffer;
        if (length > 0) {
            UMockdevIoctlData* resolved =
                umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer), length, nullptr);
            buffer.assign(resolved->data, resolved->data + length);
            g_object_unref(resolved);
        }
        Urb record;
        record.data = data;
        record.clientAddress = data->client_addr;
        const bool in = (urb->endpoint & 0x80) != 0;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
            control(record, buffer);
            ready_.push_back(record);
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK && !in) {
            bulkOut_.push_back(buffer);
            feed(buffer);
            record.actual = length;
            ready_.push_back(record);
        } else if (urb->type == USBDEVFS_URB_TYPE_BULK) {
            waitingIn_.push_back(record);
            submitted_.notify_all();
        } else if (urb->type == USBDEVFS_URB_TYPE_INTERRUPT && in) {
            waitingEvent_.push_back(record);
            submitted_.notify_all();
        } else {
            problems_.push_back("unexpected URB type " + std::to_string(urb->type));
            g_object_unref(data);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        std::optional<Urb> done;
        if (!discarded_.empty()) {
            done = discarded_.front();
            discarded_.pop_front();
        } else if (!ready_.empty()) {
            done = ready_.front();
            ready_.pop_front();
        } else if (!waitingIn_.empty() && fill(waitingIn_.front(), inPackets_, packet_)) {
            done = waitingIn_.front();
            waitingIn_.pop_front();
        } else if (!waitingEvent_.empty() &&
                   fill(waitingEvent_.front(), eventPackets_, eventPacket_)) {
            done = waitingEvent_.front();
            waitingEvent_.pop_front();
        }
        if (!done) {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return;
        }
        auto* urb = reinterpret_cast<usbdevfs_urb*>(done->data->data);
        urb->status = done->status;
        urb->actual_length =
            static_cast<int>(done->reply.empty() ? done->actual : done->reply.size());
        if (!done->reply.empty())
            std::memcpy(static_cast<unsigned char*>(urb->buffer) + done->offset, done->reply.data(),
                        done->reply.size());
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, done->data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        g_object_unref(done->data);
    }

    // Moves packets into the transfer as a host controller would: it completes on a short
    // packet or when full.
    static bool fill(Urb& urb, std::deque<Packet>& packets, std::size_t packet) {
        const auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.data->data);
        const std::size_t capacity = static_cast<std::size_t>(raw->buffer_length);
        while (!packets.empty()) {
            Packet& next = packets.front();
            if (next.stall) {
                if (urb.reply.empty()) {
                    urb.status = -EPIPE;
                    packets.pop_front();
                }
                return true;
            }
            if (urb.reply.size() + next.bytes.size() > capacity) {
                urb.status = -EOVERFLOW;
                packets.pop_front();
                return true;
            }
            urb.reply.insert(urb.reply.end(), next.bytes.begin(), next.bytes.end());
            const bool isShort = next.bytes.size() < packet;
            packets.pop_front();
            if (isShort || urb.reply.size() == capacity) return true;
        }
        return false;
    }

    void control(Urb& record, const Bytes& buffer) {
        Control c;
        if (buffer.size() >= 8) {
            c.requestType = buffer[0];
            c.request = buffer[1];
            c.value = static_cast<std::uint16_t>(buffer[2] | buffer[3] << 8);
            c.index = static_cast<std::uint16_t>(buffer[4] | buffer[5] << 8);
        }
        const std::size_t wanted =
            buffer.size() >= 8 ? static_cast<std::size_t>(buffer[6] | buffer[7] << 8) : 0;
        record.offset = 8;
        if ((c.requestType & 0x80) == 0) {
            c.data.assign(buffer.begin() + 8,
                          buffer.begin() + 8 +
                              static_cast<std::ptrdiff_t>(std::min(wanted, buffer.size() - 8)));
            controls_.push_back(c);
            record.actual = c.data.size();
            if (c.request == 0x64 || c.request == 0x66) {
                // Cancel and Device Reset drop whatever the device still meant to send.
                inPackets_.clear();
                awaitingData_ = false;
            }
            return;
        }
        controls_.push_back(c);
        Bytes reply;
        if (c.requestType == 0x80 && c.request == 6 && (c.value >> 8) == 3) {
            const std::uint8_t index = c.value & 0xFF;
            if (index == 0) {
                reply = {4, 3, 0x09, 0x04};
            } else if (const auto it = strings_.find(index); it != strings_.end()) {
                const QString& text = it->second;
                reply = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
                for (const QChar ch : text) PTP::appendLE(reply, ch.unicode());
            } else {
                record.status = -EPIPE;
            }
        } else if (c.requestType == 0xA1 && c.request == 0x67) {
            reply = statusReplies_.empty() ? status(0x2001) : statusReplies_.front();
            if (statusReplies_.size() > 1) statusReplies_.erase(statusReplies_.begin());
        } else {
            record.status = -EPIPE;
        }
        if (reply.size() > wanted) reply.resize(wanted);
        record.reply = reply;
    }

    void feed(const Bytes& payload) {
        out_.insert(out_.end(), payload.begin(), payload.end());
        while (out_.size() >= 12) {
            const std::uint32_t length = le32(out_, 0);
            if (length < 12) {
                problems_.push_back("container length " + std::to_string(length));
                out_.clear();
                return;
            }
            if (out_.size() < length) return;
            const Bytes one(out_.begin(), out_.begin() + length);
            out_.erase(out_.begin(), out_.begin() + length);
            onContainer(one);
        }
    }

    void onContainer(const Bytes& received) {
        if (script_.empty()) {
            problems_.push_back("container after the end of the script");
            return;
        }
        Exchange& step = script_.front();
        if (awaitingData_) {
            awaitingData_ = false;
            if (received != *step.data)
                problems_.push_back("data container differs from the script");
            answer(step);
            script_.pop_front();
            return;
        }
        if (received != step.command) {
            problems_.push_back("command container differs from the script (code " +
                                std::to_string(received[6] | received[7] << 8) + ")");
            script_.pop_front();
            return;
        }
        if (step.data) {
            awaitingData_ = true;
            return;
        }
        answer(step);
        script_.pop_front();
    }

    void answer(const Exchange& step) {
        if (step.stall) {
            inPackets_.push_back({{}, true});
            return;
        }
        for (const Bytes& reply : step.replies) sendLocked(reply);
    }

    void sendLocked(const Bytes& bytes) {
        for (std::size_t at = 0; at < bytes.size(); at += packet_)
            inPackets_.push_back({Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(
                                                            std::min(bytes.size(), at + packet_))),
                                  false});
        if (zeroLengthPackets_ && bytes.size() % packet_ == 0) inPackets_.push_back({{}, false});
    }

    const std::size_t packet_;
    const std::size_t eventPacket_;
    UMockdevIoctlBase* handler_;

    mutable std::mutex mutex_;
    std::condition_variable submitted_;
    std::deque<Exchange> script_;
    bool awaitingData_ = false;
    Bytes out_;
    std::deque<Packet> inPackets_;
    std::deque<Packet> eventPackets_;
    std::deque<Urb> ready_;
    std::deque<Urb> waitingIn_;
    std::deque<Urb> waitingEvent_;
    std::deque<Urb> discarded_;
    std::map<std::uint8_t, QString> strings_;
    std::vector<Bytes> statusReplies_;
    int claimErrno_ = 0;
    int claims_ = 0;
    bool zeroLengthPackets_ = true;
    bool unplugged_ = false;
    std::vector<Bytes> bulkOut_;
    std::vector<Control> controls_;
    std::vector<unsigned> clearedHalts_;
    std::vector<std::string> problems_;
};

// The testbed: fake sysfs and device nodes for this process while it lives.
class UsbTestbed {
public:
    struct Device {
        int bus = 1;
        int address = 5;
        std::string port = "1-1";
        std::uint16_t vendorId = 0x04b0;
        std::uint16_t productId = 0x0441;
        std::optional<std::string> product = "NIKON DSC D850";  // sysfs attribute
        int interfaceClass = 6;
        int interfaceSubClass = 1;
        int interfaceProtocol = 1;
        std::size_t packet = 512;
        std::size_t eventPacket = 8;
        std::optional<std::uint64_t> usecInitialized;
    };
    struct Added {
        std::string device;     // sysfs path of the usb_device
        std::string interface;  // sysfs path of its usb_interface
        std::string node;       // /dev/bus/usb/BBB/AAA
    };

    UsbTestbed() : testbed_(umockdev_testbed_new()) {}
    ~UsbTestbed() { g_object_unref(testbed_); }
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    UMockdevTestbed* get() const { return testbed_; }
    std::string root() const {
        gchar* dir = umockdev_testbed_get_root_dir(testbed_);
        std::string out(dir);
        g_free(dir);
        return out;
    }

    // Adds the device and its interface (which sends their "add" uevents). `fake` answers
    // the device node's ioctls; without one the node is an empty file.
    Added add(const Device& d, FakeUsbCamera* fake = nullptr) {
        char node[64];
        std::snprintf(node, sizeof(node), "bus/usb/%03d/%03d", d.bus, d.address);
        Added added;
        added.node = std::string("/dev/") + node;
        if (fake) {
            GError* error = nullptr;
            EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_, added.node.c_str(), fake->handler(),
                                                      &error));
            if (error) g_error_free(error);
        }
        const std::string devicePath =
            "/devices/pci0000:00/usb" + std::to_string(d.bus) + "/" + d.port;
        const std::string interfacePath = devicePath + "/" + d.port + ":1.0";
        added.device = "/sys" + devicePath;
        added.interface = "/sys" + interfacePath;
        char ids[64];
        std::snprintf(ids, sizeof(ids), "%x/%x/100", d.vendorId, d.productId);

        std::string text;
        text += "P: " + interfacePath + "\n";
        text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
        text += "E: INTERFACE=" + std::to_string(d.interfaceClass) + "/" +
                std::to_string(d.interfaceSubClass) + "/" + std::to_string(d.interfaceProtocol) +
                "\n";
        text += std::string("E: PRODUCT=") + ids + "\n";
        text += "A: bInterfaceClass=" + hex2(d.interfaceClass) + "\\n\n";
        text += "A: bInterfaceSubClass=" + hex2(d.interfaceSubClass) + "\\n\n";
        text += "A: bInterfaceProtocol=" + hex2(d.interfaceProtocol) + "\\n\n";
        text += "A: bInterfaceNumber=00\\n\n";
        text += "\n";
        text += "P: " + devicePath + "\n";
        text += std::string("N: ") + node + "\n";
        text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
        text += "E: DEVNAME=" + added.node + "\n";
        text += "E: BUSNUM=" + pad3(d.bus) + "\nE: DEVNUM=" + pad3(d.address) + "\n";
        text += std::string("E: PRODUCT=") + ids + "\n";
        if (d.usecInitialized)
            text += "E: USEC_INITIALIZED=" + std::to_string(*d.usecInitialized) + "\n";
        text += "A: busnum=" + std::to_string(d.bus) + "\\n\n";
        text += "A: devnum=" + std::to_string(d.address) + "\\n\n";
        text += "A: speed=480\\n\nA: bConfigurationValue=1\\n\n";
        text +=
            "A: idVendor=" + hex4(d.vendorId) + "\\n\nA: idProduct=" + hex4(d.productId) + "\\n\n";
        if (d.product) text += "A: product=" + *d.product + "\\n\n";
        text += "H: descriptors=" + descriptors(d) + "\n";

        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_string(testbed_, text.c_str(), &error);
        EXPECT_TRUE(ok) << (error ? error->message : "");
        if (error) g_error_free(error);
        return added;
    }

    // Sends the "remove" uevents as the kernel would (interface first) and drops the nodes.
    void unplug(const Added& added) {
        umockdev_testbed_uevent(testbed_, added.interface.c_str(), "remove");
        umockdev_testbed_uevent(testbed_, added.device.c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, added.interface.c_str());
        umockdev_testbed_remove_device(testbed_, added.device.c_str());
    }

    // Device, configuration, one interface and its endpoints, as usbfs serves them.
    static std::string descriptors(const Device& d) {
        const bool camera = d.interfaceClass == 6;
        const int endpoints = camera ? 3 : 2;
        const int total = 9 + 9 + 7 * endpoints;
        std::vector<int> b = {18,
                              1,
                              0x00,
                              0x02,
                              0,
                              0,
                              0,
                              64,
                              d.vendorId & 0xFF,
                              d.vendorId >> 8,
                              d.productId & 0xFF,
                              d.productId >> 8,
                              0x00,
                              0x01,
                              1,
                              2,
                              3,
                              1};
        const std::vector<int> config = {9, 2, total & 0xFF, total >> 8, 1, 1, 0, 0xC0, 1};
        const std::vector<int> interface = {
            9, 4, 0, 0, endpoints, d.interfaceClass, d.interfaceSubClass, d.interfaceProtocol, 0};
        b.insert(b.end(), config.begin(), config.end());
        b.insert(b.end(), interface.begin(), interface.end());
        const int packet = static_cast<int>(d.packet);
        const int eventPacket = static_cast<int>(d.eventPacket);
        const std::vector<int> bulkIn = {7, 5, 0x81, 2, packet & 0xFF, packet >> 8, 0};
        const std::vector<int> bulkOut = {7, 5, 0x02, 2, packet & 0xFF, packet >> 8, 0};
        b.insert(b.end(), bulkIn.begin(), bulkIn.end());
        b.insert(b.end(), bulkOut.begin(), bulkOut.end());
        if (camera) {
            const std::vector<int> event = {7, 5, 0x83, 3, eventPacket & 0xFF, eventPacket >> 8, 9};
            b.insert(b.end(), event.begin(), event.end());
        }
        std::string out;
        for (int v : b) out += hex2(v);
        return out;
    }

private:
    static std::string hex2(int v) {
        char s[8];
        std::snprintf(s, sizeof(s), "%02x", v & 0xFF);
        return s;
    }
    static std::string hex4(int v) {
        char s[8];
        std::snprintf(s, sizeof(s), "%04x", v & 0xFFFF);
        return s;
    }
    static std::string pad3(int v) {
        char s[8];
        std::snprintf(s, sizeof(s), "%03d", v);
        return s;
    }

    UMockdevTestbed* testbed_;
};

}  // namespace pexil::testing
