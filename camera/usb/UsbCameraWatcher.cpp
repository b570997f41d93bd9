#include "camera/usb/UsbCameraWatcher.h"

#include <libudev.h>

#include <QByteArray>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace pexil::camera {

namespace {

constexpr double freshAge = 2.0;       // seconds: younger needs no "…秒前から"
constexpr double plausibleAge = 3600;  // seconds: older time stamps are not believed

bool equals(const char* text, const char* expected) {
    return text && std::strcmp(text, expected) == 0;
}

// FNV-1a of the interface's sysfs path: the same for its arrival and its departure.
std::uint64_t identifierOf(const char* syspath) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char* c = syspath; c && *c; ++c) {
        hash ^= static_cast<unsigned char>(*c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The kernel's INTERFACE property, "class/subclass/protocol" in decimal. It travels with
// the removal event too, when the sysfs attributes are already gone.
std::optional<bool> stillImageByProperty(udev_device* device) {
    const char* property = udev_device_get_property_value(device, "INTERFACE");
    if (!property) return std::nullopt;
    const QList<QByteArray> parts = QByteArray(property).split('/');
    if (parts.size() < 2) return std::nullopt;
    bool classOk = false;
    bool subclassOk = false;
    const int interfaceClass = parts[0].toInt(&classOk);
    const int subclass = parts[1].toInt(&subclassOk);
    if (!classOk || !subclassOk) return std::nullopt;
    return interfaceClass == 6 && subclass == 1;
}

bool isStillImageInterface(udev_device* device) {
    if (!equals(udev_device_get_devtype(device), "usb_interface")) return false;
    const char* interfaceClass = udev_device_get_sysattr_value(device, "bInterfaceClass");
    const char* subclass = udev_device_get_sysattr_value(device, "bInterfaceSubClass");
    if (interfaceClass && subclass) {
        bool classOk = false;
        bool subclassOk = false;
        const int c = QByteArray(interfaceClass).trimmed().toInt(&classOk, 16);
        const int s = QByteArray(subclass).trimmed().toInt(&subclassOk, 16);
        if (classOk && subclassOk) return c == 6 && s == 1;
    }
    return stillImageByProperty(device).value_or(false);
}

}  // namespace

struct UsbCameraWatcher::Udev {
    Udev(udev* c, udev_monitor* m) : context(c), monitor(m) {}
    ~Udev() {
        notifier.reset();
        udev_monitor_unref(monitor);
        udev_unref(context);
    }
    Udev(const Udev&) = delete;
    Udev& operator=(const Udev&) = delete;

    udev* context;
    udev_monitor* monitor;
    std::unique_ptr<QSocketNotifier> notifier;
};

UsbCameraWatcher::UsbCameraWatcher(async::Clock& clock, LogSink log)
    : clock_(clock), log_(std::move(log)) {}

UsbCameraWatcher::~UsbCameraWatcher() = default;

void UsbCameraWatcher::start() {
    if (udev_) return;
    const auto cannotWatch = [this](int code) {
        if (log_) log_(QStringLiteral("USB の見張りを始められない: ") + QString::number(code));
    };
    // Without udev (a container, a minimal system) cameras can still be reached by address.
    udev* context = udev_new();
    if (!context) {
        cannotWatch(errno ? -errno : -ENOMEM);
        return;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor) {
        cannotWatch(errno ? -errno : -ENOMEM);
        udev_unref(context);
        return;
    }
    udev_ = std::make_unique<Udev>(context, monitor);

    // Receiving starts before the scan, so that a camera plugged in meanwhile is not
    // missed; should it come twice, the second arrival is dropped.
    int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_interface");
    if (rc >= 0) rc = udev_monitor_enable_receiving(monitor);
    const bool receiving = rc >= 0;
    if (!receiving) cannotWatch(rc);

    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (!enumerate) {
        cannotWatch(-ENOMEM);
    } else {
        udev_enumerate_add_match_subsystem(enumerate, "usb");
        udev_enumerate_add_match_property(enumerate, "DEVTYPE", "usb_interface");
        rc = udev_enumerate_scan_devices(enumerate);
        if (rc < 0) {
            cannotWatch(rc);
        } else {
            bool any = false;
            udev_list_entry* entry = nullptr;
            udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
                udev_device* device =
                    udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
                if (!device) continue;
                any = arrive(device) || any;
                udev_device_unref(device);
            }
            if (any && onChange) onChange();
        }
        udev_enumerate_unref(enumerate);
    }

    if (receiving) {
        udev_->notifier =
            std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor), QSocketNotifier::Read);
        QObject::connect(udev_->notifier.get(), &QSocketNotifier::activated, udev_->notifier.get(),
                         [this] { drainMonitor(); });
    }
}

void UsbCameraWatcher::drainMonitor() {
    bool any = false;
    while (udev_device* device = udev_monitor_receive_device(udev_->monitor)) {
        const char* action = udev_device_get_action(device);
        if (equals(action, "add"))
            any = arrive(device) || any;
        else if (equals(action, "remove"))
            any = depart(device) || any;
        udev_device_unref(device);
    }
    if (any && onChange) onChange();
}

bool UsbCameraWatcher::arrive(udev_device* interface) {
    if (!isStillImageInterface(interface)) return false;
    const std::uint64_t identifier = identifierOf(udev_device_get_syspath(interface));
    if (cameras_.contains(identifier)) return false;
    const Camera camera = describe(interface);
    cameras_[identifier] = camera;
    const double age = static_cast<double>(camera.since.msecsTo(clock_.now())) / 1000.0;
    if (!log_) return true;
    if (age > freshAge)
        log_(
            QStringLiteral("USB にカメラ: %1（%2 秒前から）").arg(camera.name).arg(age, 0, 'f', 0));
    else
        log_(QStringLiteral("USB にカメラ: ") + camera.name);
    return true;
}

bool UsbCameraWatcher::depart(udev_device* interface) {
    if (!equals(udev_device_get_devtype(interface), "usb_interface")) return false;
    const auto it = cameras_.find(identifierOf(udev_device_get_syspath(interface)));
    if (it == cameras_.end()) return stillImageByProperty(interface).value_or(false);
    const QString name = it->second.name;
    cameras_.erase(it);
    if (log_) log_(QStringLiteral("USB からカメラが外れた: ") + name);
    return true;
}

UsbCameraWatcher::Camera UsbCameraWatcher::describe(udev_device* interface) const {
    Camera camera{QStringLiteral("カメラ"), clock_.now()};
    // Owned by the interface's device object; not to be released here.
    udev_device* parent =
        udev_device_get_parent_with_subsystem_devtype(interface, "usb", "usb_device");
    if (!parent) return camera;

    if (const char* product = udev_device_get_sysattr_value(parent, "product")) {
        QString name = QString::fromUtf8(product);
        name.remove(QStringLiteral("NIKON DSC "));
        // A blank product string names nothing; the generic name reads better in the log.
        if (!name.trimmed().isEmpty()) camera.name = name;
    }

    // USEC_INITIALIZED: microseconds of CLOCK_MONOTONIC when udev first set the device up.
    if (const char* initialized = udev_device_get_property_value(parent, "USEC_INITIALIZED")) {
        bool ok = false;
        const qulonglong stamp = QByteArray(initialized).toULongLong(&ok);
        const double now = clock_.monotonic().count();
        const double then = static_cast<double>(stamp) / 1e6;
        if (ok && stamp > 0 && now >= then) {
            const double age = now - then;
            if (age < plausibleAge)
                camera.since =
                    clock_.now().addMSecs(-static_cast<qint64>(std::llround(age * 1000)));
        }
    }
    return camera;
}

std::optional<UsbCameraWatcher::Camera> UsbCameraWatcher::camera() const {
    if (cameras_.empty()) return std::nullopt;
    const auto earliest = std::min_element(
        cameras_.begin(), cameras_.end(),
        [](const auto& a, const auto& b) { return a.second.since < b.second.since; });
    return earliest->second;
}

}  // namespace pexil::camera
