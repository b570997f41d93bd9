#pragma once

#include "app/shots/ShotMark.h"

#include <QString>

#include <optional>

namespace pexil {

// The photographer's marks beside the picture, never in it: an XMP sidecar named after the
// picture's whole file name ("DSC_0001.NEF.xmp"), as darktable and digiKam look for it.
// Stars are xmp:Rating (a reject −1); a pick is the green colour label, xmp:Label "Green",
// which both read as their own green label. A client's favourite (from the client view) is the
// purple label, written only where the photographer's pick or another program's label is not.
namespace XmpSidecar {

QString pathFor(const QString& picture);

// The label a pick is written as.
inline const char* const pickLabel = "Green";

// The label a client's favourite is written as.
inline const char* const clientFavouriteLabel = "Purple";

// Writes `mark` into the sidecar of `picture`, creating it when missing and otherwise
// keeping all else it holds (a raw editor's history, another label). `clientFavourite` none:
// a favourite label already there stays. Touches the disk: run it on a worker queue. None
// when written, else the photographer's text saying why not.
std::optional<QString> write(const QString& picture, const ShotMark& mark,
                             std::optional<bool> clientFavourite = std::nullopt);

// The mark a sidecar holds; none when there is no sidecar or it cannot be read.
std::optional<ShotMark> read(const QString& picture);

}  // namespace XmpSidecar

}  // namespace pexil
