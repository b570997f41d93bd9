#include "camera/usb/UsbCameraList.h"

#include "camera/usb/UsbContainer.h"
#include "camera/usb/UsbDescriptors.h"

#include <libusb.h>

#include <QDir>
#include <QFile>

#include <sys/time.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace pexil::camera {

using namespace usbdetail;

namespace {

QString usbUnavailable(int code) {
    return QStringLiteral("USB を使えない（%1）。").arg(QString::fromUtf8(libusb_error_name(code)));
}

QString productFromDescriptor(libusb_device* device, std::uint8_t index) {
    if (index == 0) return {};
    libusb_device_handle* opened = nullptr;
    if (libusb_open(device, &opened) != 0) return {};
    const DeviceHandle handle(opened);
    std::array<unsigned char, 255> buffer{};
    const int languages = libusb_get_string_descriptor(opened, 0, 0, buffer.data(), buffer.size());
    if (languages < 0) return {};
    const auto language = UsbContainer::parseFirstLanguage(
        ByteView(buffer.data(), static_cast<std::size_t>(languages)));
    if (!language) return {};
    const int n =
        libusb_get_string_descriptor(opened, index, *language, buffer.data(), buffer.size());
    if (n < 0) return {};
    return UsbContainer::parseStringDescriptor(ByteView(buffer.data(), static_cast<std::size_t>(n)))
        .value_or(QString());
}

QString sysfsAttribute(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QString text = QString::fromUtf8(file.read(4096));
    while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return text;
}

// A user without access to the device node can still read sysfs.
QString productFromSysfs(UsbAddress address) {
    const QDir devices(QStringLiteral("/sys/bus/usb/devices"));
    const auto entries = devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& entry : entries) {
        const QString base = devices.filePath(entry) + QLatin1Char('/');
        bool busOk = false;
        bool devOk = false;
        const int bus = sysfsAttribute(base + QStringLiteral("busnum")).toInt(&busOk);
        const int dev = sysfsAttribute(base + QStringLiteral("devnum")).toInt(&devOk);
        if (busOk && devOk && bus == address.bus && dev == address.address)
            return sysfsAttribute(base + QStringLiteral("product"));
    }
    return {};
}

// None unless the device has a PTP interface the transport can use.
std::optional<UsbCameraInfo> describe(libusb_device* device) {
    if (!findPtpInterface(device)) return std::nullopt;
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return std::nullopt;
    UsbCameraInfo info;
    info.address = {libusb_get_bus_number(device), libusb_get_device_address(device)};
    info.vendorId = descriptor.idVendor;
    info.productId = descriptor.idProduct;
    info.product = productFromDescriptor(device, descriptor.iProduct);
    if (info.product.isEmpty()) info.product = productFromSysfs(info.address);
    return info;
}

struct ContextExit {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};
using Context = std::unique_ptr<libusb_context, ContextExit>;

}  // namespace

struct UsbCameraList::Shared {
    Callback arrived;
    Callback left;
    std::vector<UsbCameraInfo> cameras;
};

// The libusb side: a context, its hot-plug registration and the thread that runs its
// events. Hot-plug callbacks only queue the device; names are read outside them, since
// libusb forbids synchronous transfers inside a callback.
struct UsbCameraList::Watch {
    using Deliver = std::function<void(bool arrived, UsbCameraInfo info)>;

    Watch(Context owned, Deliver post) : context(std::move(owned)), deliver(std::move(post)) {}
    ~Watch() {
        stop = true;
        libusb_interrupt_event_handler(context.get());
        if (thread.joinable()) thread.join();
        if (registered) libusb_hotplug_deregister_callback(context.get(), callback);
        std::lock_guard lock(mutex);
        queued.clear();
    }

    static int LIBUSB_CALL onHotplug(libusb_context*, libusb_device* device,
                                     libusb_hotplug_event event, void* user) {
        auto* self = static_cast<Watch*>(user);
        std::lock_guard lock(self->mutex);
        self->queued.emplace_back(event, DeviceRef(libusb_ref_device(device)));
        return 0;
    }

    void run() {
        while (!stop) {
            process();
            timeval slice{0, 200000};
            libusb_handle_events_timeout_completed(context.get(), &slice, nullptr);
        }
    }

    void process() {
        std::vector<std::pair<libusb_hotplug_event, DeviceRef>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(queued);
        }
        for (auto& [event, device] : batch) {
            const std::pair<int, int> key{libusb_get_bus_number(device.get()),
                                          libusb_get_device_address(device.get())};
            if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) {
                // A device present at registration may be reported twice.
                if (known.contains(key)) continue;
                auto info = describe(device.get());
                if (!info) continue;
                known.emplace(key, *info);
                deliver(true, std::move(*info));
            } else if (const auto it = known.find(key); it != known.end()) {
                deliver(false, it->second);
                known.erase(it);
            }
        }
    }

    Context context;
    Deliver deliver;
    libusb_hotplug_callback_handle callback{};
    bool registered = false;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::pair<libusb_hotplug_event, DeviceRef>> queued;
    std::map<std::pair<int, int>, UsbCameraInfo> known;  // event thread only
    std::thread thread;
};

UsbCameraList::UsbCameraList(async::Executor& main)
    : main_(main), shared_(std::make_shared<Shared>()) {}

UsbCameraList::~UsbCameraList() {
    // Joins the event thread first, so nothing is posted once the shared state is gone.
    watch_.reset();
}

Result<std::vector<UsbCameraInfo>, TransportError> UsbCameraList::enumerate() {
    libusb_context* raw = nullptr;
    if (const int rc = libusb_init(&raw); rc != 0) return TransportError{usbUnavailable(rc)};
    const Context context(raw);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(raw, &list);
    if (count < 0) return TransportError{usbUnavailable(static_cast<int>(count))};
    std::vector<UsbCameraInfo> cameras;
    for (ssize_t i = 0; i < count; ++i) {
        if (auto info = describe(list[i])) cameras.push_back(std::move(*info));
    }
    libusb_free_device_list(list, 1);
    std::sort(cameras.begin(), cameras.end(), [](const auto& a, const auto& b) {
        return std::pair(a.address.bus, a.address.address) <
               std::pair(b.address.bus, b.address.address);
    });
    return cameras;
}

Result<Done, TransportError> UsbCameraList::start(Callback arrived, Callback left) {
    if (watch_) return Done{};
    libusb_context* raw = nullptr;
    if (const int rc = libusb_init(&raw); rc != 0) return TransportError{usbUnavailable(rc)};
    Context context(raw);
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        return TransportError{QStringLiteral("この USB 環境ではカメラの抜き差しを見張れない。")};

    shared_->arrived = std::move(arrived);
    shared_->left = std::move(left);
    auto deliver = [&main = main_, weak = std::weak_ptr<Shared>(shared_)](bool came,
                                                                          UsbCameraInfo info) {
        main.post([weak, came, info = std::move(info)] {
            const auto shared = weak.lock();
            if (!shared) return;
            auto& list = shared->cameras;
            if (came) {
                list.push_back(info);
                if (shared->arrived) shared->arrived(info);
                return;
            }
            std::erase_if(list, [&](const UsbCameraInfo& c) { return c.address == info.address; });
            if (shared->left) shared->left(info);
        });
    };
    auto watch = std::make_unique<Watch>(std::move(context), std::move(deliver));
    const int rc = libusb_hotplug_register_callback(
        watch->context.get(),
        LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
        LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
        LIBUSB_HOTPLUG_MATCH_ANY, &Watch::onHotplug, watch.get(), &watch->callback);
    if (rc != 0) return TransportError{usbUnavailable(rc)};
    watch->registered = true;
    watch->thread = std::thread([w = watch.get()] { w->run(); });
    watch_ = std::move(watch);
    return Done{};
}

std::vector<UsbCameraInfo> UsbCameraList::cameras() const {
    return shared_->cameras;
}

}  // namespace pexil::camera
