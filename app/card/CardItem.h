#pragma once

#include "app/connection/CameraLink.h"

#include <QDateTime>
#include <QImage>
#include <QMetaType>
#include <QString>

#include <optional>
#include <vector>

namespace pexil {

// One picture on the camera's card as the card browser shows it. A value; `id` is unique
// within a catalogue.
struct CardItem {
    QString id;    // the link's catalogue key: "FOLDER/NAME", "/NAME" without a folder
    QString name;  // the camera's file name, "?" when it gives none
    CameraLink::CameraFilePtr file;
    qint64 size = 0;                    // bytes, as the camera reports
    std::optional<QDateTime> captured;  // in the camera's clock
    QImage thumbnail;                   // null until the thumbnail worker filled it
    bool imported = false;              // in the ledger, or already in the destination
    bool locatable = false;             // the current geo record holds a position for it
};

using CardItems = std::vector<CardItem>;

// What a running import is doing.
struct ImportPhase {
    enum class Kind { downloading, geotagging };
    Kind kind = Kind::downloading;
    int done = 0;   // downloading: files handled so far, failures included
    int total = 0;  // downloading: files in this import
    int count = 0;  // geotagging: files positions are being written into

    static ImportPhase downloading(int done, int total) {
        return {Kind::downloading, done, total, 0};
    }
    static ImportPhase geotagging(int count) { return {Kind::geotagging, 0, 0, count}; }
    friend bool operator==(const ImportPhase&, const ImportPhase&) = default;
};

}  // namespace pexil

Q_DECLARE_METATYPE(pexil::CardItems)
Q_DECLARE_METATYPE(std::optional<pexil::ImportPhase>)
