#include "camera/usb/UdevRule.h"

#include <QDir>
#include <QFileInfo>

namespace pexil::camera::UdevRule {

QStringList directories() {
    return {QStringLiteral("/etc/udev/rules.d"), QStringLiteral("/run/udev/rules.d"),
            QStringLiteral("/usr/local/lib/udev/rules.d"), QStringLiteral("/usr/lib/udev/rules.d"),
            QStringLiteral("/lib/udev/rules.d")};
}

QString installed(const QStringList& directories, const QString& name) {
    for (const QString& directory : directories) {
        const QString path = QDir(directory).filePath(name);
        if (QFileInfo(path).isFile()) return path;
    }
    return {};
}

QString installCommand(const QString& name) {
    return QStringLiteral(
               "printf '%s\\n' 'SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", "
               "ATTR{idVendor}==\"04b0\", "
               "TAG+=\"uaccess\"' 'SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", "
               "ENV{ID_USB_INTERFACES}==\"*:0601??:*\", TAG+=\"uaccess\"' | sudo tee "
               "/etc/udev/rules.d/%1 "
               ">/dev/null && sudo udevadm control --reload && sudo udevadm trigger --action=add "
               "--subsystem-match=usb")
        .arg(name);
}

QString permissionHint(const QString& installedPath) {
    if (!installedPath.isEmpty())
        return QStringLiteral(
                   "USB のカメラを開く権限がない。udev ルール（%1）はあるが、このカメラにまだ効いて"
                   "いない。カメラをつなぎ直すか、次を実行してください: sudo udevadm control "
                   "--reload && sudo udevadm trigger --action=add --subsystem-match=usb")
            .arg(installedPath);
    return QStringLiteral(
               "USB のカメラを開く権限がない。Pexil の udev ルールを入れ、カメラをつなぎ直して"
               "ください: ") +
           installCommand();
}

}  // namespace pexil::camera::UdevRule
