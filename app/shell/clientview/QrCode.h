#pragma once

#include <QImage>
#include <QString>

namespace pexil::shell {

// `text` as a QR code (libqrencode, error correction M), black on white with the quiet zone
// of four modules around it, each module `moduleSize` pixels. A null image when the text does
// not fit in a QR code.
QImage qrCodeImage(const QString& text, int moduleSize);

}  // namespace pexil::shell
