#include "camera/service/CameraAddress.h"

#include <QStringList>

namespace pexil::camera {

namespace {
QString problem(const QString& text, const char* why) {
    return QString::fromUtf8("カメラの指定が正しくありません: ") + text + QStringLiteral("（") +
           QString::fromUtf8(why) + QStringLiteral("。usb、usb:BUS:ADDRESS、ptpip://HOST[:PORT]、virtual のどれか）");
}
}  // namespace

Result<CameraAddress, QString> CameraAddress::parse(const QString& text) {
    CameraAddress out;
    if (text == QLatin1String("virtual")) {
        out.kind = Kind::virtualCamera;
        return out;
    }
    if (text == QLatin1String("usb")) return out;
    if (text.startsWith(QLatin1String("usb:"))) {
        const QStringList parts = text.mid(4).split(u':');
        bool busOk = false, addressOk = false;
        const int bus = parts.value(0).toInt(&busOk);
        const int address = parts.value(1).toInt(&addressOk);
        if (parts.size() != 2 || !busOk || !addressOk || bus < 1 || bus > 255 || address < 1 || address > 127)
            return problem(text, "バス番号とアドレスは数で");
        out.bus = bus;
        out.address = address;
        return out;
    }
    if (text.startsWith(QLatin1String("ptpip://"))) {
        out.kind = Kind::ptpip;
        QString rest = text.mid(8);
        if (rest.endsWith(u'/')) rest.chop(1);
        // [v6 address]:port, host:port or host alone.
        qsizetype colon = -1;
        if (rest.startsWith(u'[')) {
            const qsizetype close = rest.indexOf(u']');
            if (close < 0) return problem(text, "IPv6 アドレスの ] がありません");
            out.host = rest.mid(1, close - 1);
            if (close + 1 < rest.size()) {
                if (rest.at(close + 1) != u':') return problem(text, "ポートの前には : を");
                colon = close + 1;
            }
        } else {
            colon = rest.lastIndexOf(u':');
            out.host = colon < 0 ? rest : rest.left(colon);
        }
        if (colon >= 0) {
            bool ok = false;
            const int port = rest.mid(colon + 1).toInt(&ok);
            if (!ok || port < 1 || port > 65535) return problem(text, "ポートは 1〜65535");
            out.port = static_cast<std::uint16_t>(port);
        }
        if (out.host.isEmpty()) return problem(text, "ホスト名がありません");
        return out;
    }
    return problem(text, "知らない形式です");
}

QString CameraAddress::toString() const {
    switch (kind) {
        case Kind::virtualCamera: return QStringLiteral("virtual");
        case Kind::usb:
            return bus ? QStringLiteral("usb:%1:%2").arg(*bus).arg(*address) : QStringLiteral("usb");
        case Kind::ptpip: {
            const QString h = host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
            return QStringLiteral("ptpip://%1:%2").arg(h).arg(port);
        }
    }
    return {};
}

}  // namespace pexil::camera
