#include "app/doctor/DeviceDoctor.h"

#include "app/base/Log.h"
#include "app/base/Preferences.h"
#include "app/doctor/AvahiProbe.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace pexil {

namespace {

// A path as one shell word, whatever it holds.
QString shellQuoted(const QString& path) {
    QString quoted = path;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

}  // namespace

DeviceDoctor::Environment DeviceDoctor::defaults() {
    Environment environment;
    // The application's own store, whichever program asks.
    const QSettings store(QStringLiteral("Pexil"), QStringLiteral("Pexil"));
    environment.destination = Preferences::read(store).destinationFor(QDateTime::currentDateTime());
    environment.avahi = &AvahiProbe::examine;
    environment.logPath = Log().path();
    return environment;
}

std::vector<DoctorFinding> DeviceDoctor::examine(const Environment& environment) {
    std::vector<DoctorFinding> out;
    if (environment.networkCamera)
        out.push_back(DoctorFinding::ok(QStringLiteral("network"),
                                        *environment.networkCamera + QStringLiteral(" に PTP/IP でつながっている")));
    for (DoctorFinding& finding : UsbDoctor::examine(environment.usb)) {
        // No camera on USB is the USB finding without a command to mend it.
        const bool noCamera = finding.topic == QStringLiteral("usb") &&
                              finding.level == DoctorFinding::Level::warn && finding.fix.isEmpty();
        if (noCamera && environment.networkCamera)
            finding = DoctorFinding::ok(QStringLiteral("usb"), QStringLiteral("USB のカメラは使っていない"));
        out.push_back(std::move(finding));
    }
    out.push_back(exifToolFinding(environment.exifTool));
    if (environment.avahi) out.push_back(environment.avahi());
    out.push_back(destinationFinding(environment.destination));
    const QString log = environment.logPath;
    out.push_back(DoctorFinding::ok(
        QStringLiteral("log"),
        QFileInfo::exists(log) ? log : log + QStringLiteral("（最初の接続で作られる）")));
    return out;
}

DoctorFinding DeviceDoctor::destinationFinding(const QString& folder) {
    const QString topic = QStringLiteral("destination");
    const QString path = QDir::cleanPath(folder);
    const QFileInfo info(path);
    if (path.isEmpty()) return DoctorFinding::fail(topic, QStringLiteral("保存先が決まっていない"));
    if (info.exists() && !info.isDir())
        return DoctorFinding::fail(
            topic, path + QStringLiteral(" はフォルダではない。設定で保存先を選び直してください"));
    if (info.isDir()) {
        if (const auto problem = Preferences::checkDestination(path))
            return DoctorFinding::fail(topic, *problem,
                                       QStringLiteral("sudo chown \"$USER\" ") + shellQuoted(path));
        return DoctorFinding::ok(topic, path + QStringLiteral(" に書き込める"));
    }
    QFileInfo parent(info.absolutePath());
    while (!parent.exists() && !parent.isRoot()) parent = QFileInfo(parent.absolutePath());
    if (parent.isDir() && parent.isWritable())
        return DoctorFinding::ok(topic,
                                 path + QStringLiteral(" はまだないが、最初の保存で作られる"));
    return DoctorFinding::fail(
        topic,
        path + QStringLiteral(" を作れない（%1 に書き込めない）").arg(parent.absoluteFilePath()),
        QStringLiteral("sudo mkdir -p %1 && sudo chown \"$USER\" %1").arg(shellQuoted(path)));
}

DoctorFinding DeviceDoctor::exifToolFinding(const ExifTool::Places& places) {
    const QString topic = QStringLiteral("exiftool");
    const QString install = QStringLiteral("sudo apt-get install libimage-exiftool-perl");
    const auto tool = ExifTool::locate(places);
    if (!tool)
        return DoctorFinding::warn(
            topic, QStringLiteral("ExifTool が見つからない（位置情報を書き込めない）"), install);
    const auto version = tool->version();
    if (!version)
        return DoctorFinding::warn(
            topic, tool->script + QStringLiteral(" が動かない（位置情報を書き込めない）"), install);
    return DoctorFinding::ok(topic, QStringLiteral("%1 %2").arg(tool->script, *version));
}

}  // namespace pexil
