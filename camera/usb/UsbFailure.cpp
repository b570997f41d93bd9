#include "camera/usb/UsbFailure.h"

#include "camera/usb/UdevRule.h"

#include <libusb.h>

namespace pexil::camera::usbdetail {

namespace {

QString permissionMessage() {
    return UdevRule::permissionHint(UdevRule::installed());
}

QString busyMessage() {
    return QStringLiteral(
        "カメラを別のプログラムが使っている（多くはデスクトップのボリュームモニター gvfs）。"
        "「gio mount -s gphoto2」でカメラのマウントを外すか、"
        "「systemctl --user stop gvfs-gphoto2-volume-monitor」で gvfs-gphoto2-volume-monitor "
        "を止めてから、もう一度つないでください。");
}

}  // namespace

QString addressText(UsbAddress address) {
    return QStringLiteral("バス %1、アドレス %2").arg(address.bus).arg(address.address);
}

Failure failure(Failure::Kind kind) {
    Failure f;
    f.kind = kind;
    return f;
}

Failure protocolFailure(QString detail) {
    Failure f = failure(Failure::Kind::protocol);
    f.detail = std::move(detail);
    return f;
}

Failure refusal(QString detail) {
    Failure f = failure(Failure::Kind::refused);
    f.detail = std::move(detail);
    return f;
}

QString errorName(int code) {
    return QString::fromUtf8(libusb_error_name(code));
}

Failure fromError(int code) {
    switch (code) {
        case LIBUSB_ERROR_NO_DEVICE:
            return failure(Failure::Kind::noDevice);
        case LIBUSB_ERROR_TIMEOUT:
            return failure(Failure::Kind::timedOut);
        case LIBUSB_ERROR_PIPE:
            return failure(Failure::Kind::stalled);
        case LIBUSB_ERROR_OVERFLOW:
            return failure(Failure::Kind::overflow);
        case LIBUSB_ERROR_INTERRUPTED:
            return failure(Failure::Kind::interrupted);
        default: {
            Failure f = failure(Failure::Kind::io);
            f.code = code;
            return f;
        }
    }
}

QString messageFor(const Failure& f) {
    switch (f.kind) {
        case Failure::Kind::timedOut:
            return QStringLiteral(
                "カメラが USB で応答しない（時間切れ）。カメラの電源と画面を確かめてください。");
        case Failure::Kind::stalled:
            return QStringLiteral("カメラが USB のやり取りを止めた（ストール）。");
        case Failure::Kind::noDevice:
            return QStringLiteral("カメラが USB から外れた。");
        case Failure::Kind::interrupted:
            return QStringLiteral("USB の接続を閉じた。");
        case Failure::Kind::overflow:
            return QStringLiteral("カメラから予定より多いデータが届いた（USB のオーバーフロー）。");
        case Failure::Kind::io:
            return QStringLiteral("USB の転送に失敗した（%1）。").arg(errorName(f.code));
        case Failure::Kind::protocol:
            return QStringLiteral("カメラから読めない返事が届いた（%1）。").arg(f.detail);
        case Failure::Kind::refused:
            return QStringLiteral("データの受け取りを中断した（%1）。").arg(f.detail);
    }
    return {};
}

QString goneMessage(UsbAddress address) {
    return QStringLiteral(
               "USB のカメラ（%1）が見つからない。ケーブルとカメラの電源を確かめてください。")
        .arg(addressText(address));
}

QString openFailure(int code) {
    switch (code) {
        case LIBUSB_ERROR_ACCESS:
            return permissionMessage();
        case LIBUSB_ERROR_BUSY:
            return busyMessage();
        default:
            return QStringLiteral("USB のカメラを開けない（%1）。カメラをつなぎ直してください。")
                .arg(errorName(code));
    }
}

}  // namespace pexil::camera::usbdetail
