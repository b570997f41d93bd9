#pragma once

#include "kit/ptp/Result.h"

#include <QString>
#include <QStringList>

namespace pexil::shell {

// What `pexil` was asked to do on its command line:
//   pexil [--camera ADDRESS] | --demo | --help | --version
// ADDRESS is usb (the first camera found, the default), usb:BUS:ADDRESS, ptpip://HOST[:PORT]
// or virtual. --demo is the built-in virtual camera with a card of pictures.
struct LaunchOptions {
    QString camera = QStringLiteral("usb");
    bool demo = false;
    bool help = false;
    bool version = false;

    static constexpr int demoPhotos = 12;

    // The arguments after the program's name; an error text for the user when they are wrong
    // (the address itself is checked when the camera is set up).
    static Result<LaunchOptions, QString> parse(const QStringList& arguments);
    static QString usage();
};

}  // namespace pexil::shell
