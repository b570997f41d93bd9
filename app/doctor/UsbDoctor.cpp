#include "app/doctor/UsbDoctor.h"

#include "camera/usb/UdevRule.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>

namespace pexil {

namespace {

// Programs known to hold cameras, with what mends each; the first match wins, so the GVfs
// entries come before plain gphoto2. Matched against the process's short name and program
// file name; KDE's camera worker runs inside a generic worker program and shows only in its
// arguments.
struct KnownHolder {
    const char* match;
    const char* what;
    const char* fix;  // %1: the process ID
    bool inArguments = false;
};
constexpr std::array knownHolders{
    KnownHolder{"gvfsd-gphoto2", "GVfs のカメラのマウント（gvfsd-gphoto2）",
                "gio mount -s gphoto2"},
    KnownHolder{"gvfs-gphoto2-vo", "GVfs の gphoto2 ボリュームモニター",
                "systemctl --user stop gvfs-gphoto2-volume-monitor.service"},
    KnownHolder{"kamera", "KDE のカメラ用ワーカー（kio kamera）", "kill %1", true},
    KnownHolder{"gphoto2", "gphoto2", "kill %1"},
    KnownHolder{"darktable", "darktable のテザー撮影", "kill %1"},
    KnownHolder{"entangle", "Entangle のテザー撮影", "kill %1"},
    KnownHolder{"rapid-photo", "Rapid Photo Downloader", "kill %1"},
    KnownHolder{"digikam", "digiKam", "kill %1"},
    KnownHolder{"shotwell", "Shotwell", "kill %1"},
    KnownHolder{"gtkam", "gtkam", "kill %1"},
    KnownHolder{"pexil", "別の Pexil", "kill %1"},
};

QString readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

std::optional<int> readNumber(const QString& path, int base) {
    bool ok = false;
    const int value = readText(path).toInt(&ok, base);
    return ok ? std::optional(value) : std::nullopt;
}

QString where(const UsbDoctor::Camera& camera) {
    return QStringLiteral("%1（バス %2、アドレス %3）")
        .arg(camera.name)
        .arg(camera.address.bus)
        .arg(camera.address.address);
}

// The last component of a symbolic link's target; empty when it is no link.
QString linkName(const QString& path) {
    std::array<char, 4096> buffer{};
    const ssize_t n =
        ::readlink(QFile::encodeName(path).constData(), buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return QFileInfo(QString::fromLocal8Bit(buffer.data(), n)).fileName();
}

bool hasStillImageInterface(const QString& device, const QString& name) {
    const QDir dir(device);
    const auto entries = dir.entryList({name + QStringLiteral(":*")},
                                       QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    return std::any_of(entries.begin(), entries.end(), [&](const QString& entry) {
        return readNumber(dir.filePath(entry) + QStringLiteral("/bInterfaceClass"), 16) == 6;
    });
}

// Whether a kernel driver other than usbfs has none of the camera's interfaces and usbfs
// has one: libusb claims through usbfs, so a claimed interface with no process seen holding
// the node is held by a process we may not look at.
bool claimedThroughUsbfs(const UsbDoctor::Camera& camera) {
    const QDir dir(camera.device);
    const QString name = QFileInfo(camera.device).fileName();
    const auto entries = dir.entryList({name + QStringLiteral(":*")},
                                       QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    return std::any_of(entries.begin(), entries.end(), [&](const QString& entry) {
        return linkName(dir.filePath(entry) + QStringLiteral("/driver")) == QLatin1String("usbfs");
    });
}

bool inGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int n = getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = getgroups(n, groups.data());
    return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) !=
           groups.begin() + std::max(got, 0);
}

std::optional<gid_t> groupId(const QString& name) {
    std::array<char, 4096> buffer{};
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(name.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &found) !=
            0 ||
        !found)
        return std::nullopt;
    return found->gr_gid;
}

DoctorFinding accessFinding(const UsbDoctor::Camera& camera, const UsbDoctor::Places& places) {
    const QByteArray node = QFile::encodeName(camera.node);
    const int fd = ::open(node.constData(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return DoctorFinding::ok(QStringLiteral("access"),
                                 camera.node + QStringLiteral(" を開ける"));
    }
    const int error = errno;
    if (error == ENOENT)
        return DoctorFinding::fail(
            QStringLiteral("access"),
            camera.node + QStringLiteral(" がない（udev が動いていないか、カメラが外れた）"));
    if (error != EACCES && error != EPERM)
        return DoctorFinding::fail(
            QStringLiteral("access"),
            camera.node +
                QStringLiteral(" を開けない（%1）").arg(QString::fromLocal8Bit(strerror(error))));

    const QString denied = camera.node + QStringLiteral(" を開く権限がない");
    if (UsbDoctor::installedRule(places).isEmpty())
        return DoctorFinding::fail(
            QStringLiteral("access"),
            denied + QStringLiteral("（Pexil の udev ルールが入っていない）"),
            UsbDoctor::ruleInstallCommand(places));
    // The rule gave the node to the group but no seat gave it to this user: a session
    // without a seat (ssh, some minimal desktops) needs the group.
    struct stat info {};
    const auto group = groupId(places.ruleGroup);
    if (::stat(node.constData(), &info) == 0 && group && info.st_gid == *group && !inGroup(*group))
        return DoctorFinding::fail(
            QStringLiteral("access"),
            denied +
                QStringLiteral("（このセッションに uaccess が効かず、%1 グループにも入っていない。"
                               "入ったらログインし直してください）")
                    .arg(places.ruleGroup),
            QStringLiteral("sudo usermod -aG %1 \"$USER\"").arg(places.ruleGroup));
    // The rule is there but was not applied to this device (installed after it was plugged in).
    return DoctorFinding::fail(
        QStringLiteral("access"),
        denied + QStringLiteral("（udev ルールはあるが、このデバイスにまだ効いていない）"),
        QStringLiteral("sudo udevadm control --reload && sudo udevadm trigger --action=add ") +
            camera.device);
}

QString describeHolder(const UsbDoctor::Holder& holder, QString* fix) {
    const QString names = (holder.name + u' ' + holder.program).toLower();
    const QString command = holder.command.toLower();
    for (const KnownHolder& known : knownHolders) {
        if (!(known.inArguments ? command : names).contains(QLatin1String(known.match))) continue;
        *fix = QString::fromUtf8(known.fix).arg(holder.pid);
        return QString::fromUtf8(known.what);
    }
    *fix = QStringLiteral("kill %1").arg(holder.pid);
    return QStringLiteral("プロセス %1").arg(holder.name);
}

std::vector<DoctorFinding> holderFindings(const UsbDoctor::Camera& camera,
                                          const UsbDoctor::Places& places) {
    std::vector<DoctorFinding> out;
    bool ours = false;
    for (const UsbDoctor::Holder& holder : UsbDoctor::holders(camera.node, places)) {
        if (holder.pid == places.self) {
            ours = true;
            continue;
        }
        QString fix;
        const QString what = describeHolder(holder, &fix);
        out.push_back(DoctorFinding::fail(QStringLiteral("holder"),
                                          QStringLiteral("%1 を %2 が使っている（PID %3）")
                                              .arg(where(camera), what)
                                              .arg(holder.pid),
                                          fix));
    }
    if (!out.empty()) return out;
    if (ours)
        return {DoctorFinding::ok(
            QStringLiteral("holder"),
            QStringLiteral("%1 はこのプログラムが使っている").arg(where(camera)))};
    if (claimedThroughUsbfs(camera))
        return {DoctorFinding::fail(
            QStringLiteral("holder"),
            QStringLiteral("%1 を見えないプロセス（別のユーザーのものかもしれない）が使っている")
                .arg(where(camera)),
            QStringLiteral("sudo fuser -v ") + camera.node)};
    return {
        DoctorFinding::ok(QStringLiteral("holder"),
                          QStringLiteral("%1 をほかのプロセスは使っていない").arg(where(camera)))};
}

std::optional<DoctorFinding> autosuspendFinding(const UsbDoctor::Camera& camera) {
    const QString path = camera.device + QStringLiteral("/power/control");
    const QString control = readText(path);
    if (control == QLatin1String("on"))
        return DoctorFinding::ok(
            QStringLiteral("autosuspend"),
            QStringLiteral("%1 の USB オートサスペンドは切ってある").arg(where(camera)));
    if (control == QLatin1String("auto"))
        return DoctorFinding::warn(
            QStringLiteral("autosuspend"),
            QStringLiteral("%1 の USB オートサスペンドが有効で、撮影の合間に接続が切れることがある")
                .arg(where(camera)),
            QStringLiteral("echo on | sudo tee ") + path);
    return std::nullopt;
}

}  // namespace

std::vector<UsbDoctor::Camera> UsbDoctor::cameras(const Places& places) {
    std::vector<Camera> out;
    const QDir devices(places.devices);
    const auto entries = devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& entry : entries) {
        // Interfaces ("1-1:1.0") and root hubs are listed beside the devices.
        if (entry.contains(u':')) continue;
        const QString device = devices.filePath(entry);
        const auto bus = readNumber(device + QStringLiteral("/busnum"), 10);
        const auto address = readNumber(device + QStringLiteral("/devnum"), 10);
        const auto vendor = readNumber(device + QStringLiteral("/idVendor"), 16);
        const auto product = readNumber(device + QStringLiteral("/idProduct"), 16);
        if (!bus || !address || !vendor || !product) continue;
        Camera camera;
        camera.address = {*bus, *address};
        camera.vendorId = static_cast<std::uint16_t>(*vendor);
        camera.productId = static_cast<std::uint16_t>(*product);
        camera.device = device;
        if (!camera.nikon() && !hasStillImageInterface(device, entry)) continue;
        camera.name = readText(device + QStringLiteral("/product"));
        if (camera.name.isEmpty())
            camera.name = QStringLiteral("%1:%2")
                              .arg(camera.vendorId, 4, 16, QLatin1Char('0'))
                              .arg(camera.productId, 4, 16, QLatin1Char('0'));
        camera.node = QStringLiteral("/dev/bus/usb/%1/%2")
                          .arg(*bus, 3, 10, QLatin1Char('0'))
                          .arg(*address, 3, 10, QLatin1Char('0'));
        out.push_back(std::move(camera));
    }
    std::sort(out.begin(), out.end(), [](const Camera& a, const Camera& b) {
        return std::pair(a.address.bus, a.address.address) <
               std::pair(b.address.bus, b.address.address);
    });
    return out;
}

std::vector<UsbDoctor::Holder> UsbDoctor::holders(const QString& node, const Places& places) {
    std::vector<Holder> out;
    const QByteArray nodePath = QFile::encodeName(node);
    struct stat target {};
    if (::stat(nodePath.constData(), &target) != 0) return out;
    const QByteArray proc = QFile::encodeName(places.proc);
    DIR* processes = ::opendir(proc.constData());
    if (!processes) return out;
    while (const dirent* process = ::readdir(processes)) {
        const std::string_view pid(process->d_name);
        if (pid.empty() ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string fdDir = proc.toStdString() + '/' + std::string(pid) + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) continue;  // gone, or another user's
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            const std::string link = fdDir + '/' + fd->d_name;
            std::array<char, 4096> buffer{};
            const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size() - 1);
            if (n <= 0) continue;
            // The name narrows the search; the inode decides, since the same node may be
            // reached under another name (a test's device tree, a bind mount).
            if (!std::string_view(buffer.data(), static_cast<std::size_t>(n))
                     .ends_with(nodePath.toStdString()))
                continue;
            struct stat opened {};
            if (::stat(link.c_str(), &opened) == 0 && opened.st_dev == target.st_dev &&
                opened.st_ino == target.st_ino) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds) continue;
        Holder holder;
        holder.pid =
            QString::fromLatin1(pid.data(), static_cast<qsizetype>(pid.size())).toLongLong();
        const QString base = places.proc + u'/' + QString::number(holder.pid);
        holder.name = readText(base + QStringLiteral("/comm"));
        QFile cmdline(base + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly)) {
            QByteArray bytes = cmdline.read(4096);
            const qsizetype end = bytes.indexOf('\0');
            holder.program =
                QFileInfo(QString::fromLocal8Bit(end < 0 ? bytes : bytes.first(end))).fileName();
            bytes.replace('\0', ' ');
            holder.command = QString::fromLocal8Bit(bytes).trimmed();
        }
        out.push_back(std::move(holder));
    }
    ::closedir(processes);
    std::sort(out.begin(), out.end(),
              [](const Holder& a, const Holder& b) { return a.pid < b.pid; });
    return out;
}

QString UsbDoctor::installedRule(const Places& places) {
    return camera::UdevRule::installed(places.ruleDirectories, places.ruleName);
}

QString UsbDoctor::ruleInstallCommand(const Places& places) {
    return camera::UdevRule::installCommand(places.ruleName);
}

std::vector<DoctorFinding> UsbDoctor::examine(const Camera& camera, const Places& places) {
    std::vector<DoctorFinding> out;
    out.push_back(DoctorFinding::ok(
        QStringLiteral("usb"),
        QStringLiteral("%1 %2:%3")
                .arg(where(camera))
                .arg(camera.vendorId, 4, 16, QLatin1Char('0'))
                .arg(camera.productId, 4, 16, QLatin1Char('0')) +
            (camera.nikon() ? QString() : QStringLiteral("（Nikon 以外の PTP カメラ）"))));
    out.push_back(accessFinding(camera, places));
    for (auto& finding : holderFindings(camera, places)) out.push_back(std::move(finding));
    if (auto finding = autosuspendFinding(camera)) out.push_back(std::move(*finding));
    return out;
}

std::vector<DoctorFinding> UsbDoctor::examine(const Places& places) {
    std::vector<DoctorFinding> out;
    if (const QString rule = installedRule(places); !rule.isEmpty())
        out.push_back(
            DoctorFinding::ok(QStringLiteral("udev"), QStringLiteral("udev ルール: ") + rule));
    else
        out.push_back(DoctorFinding::warn(
            QStringLiteral("udev"),
            QStringLiteral(
                "Pexil の udev ルールが入っていない（USB のカメラを開けないことがある）"),
            ruleInstallCommand(places)));
    const auto found = cameras(places);
    if (found.empty())
        out.push_back(DoctorFinding::warn(
            QStringLiteral("usb"),
            QStringLiteral(
                "USB に Nikon のカメラが見つからない。電源を入れ、USB でつないでください")));
    for (const Camera& camera : found)
        for (auto& finding : examine(camera, places)) out.push_back(std::move(finding));
    return out;
}

}  // namespace pexil
