#pragma once

#include "app/shots/ShotMark.h"
#include "app/shots/ShotMeta.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUuid>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace pexil {

// One picture that arrived during the session. A value identified by `id`; the thumbnail and
// the metadata are filled in together once the saved file has been decoded.
struct Shot {
    QUuid id;
    QString path;  // where the picture was saved
    QDateTime arrived;
    QImage thumbnail;  // null image = none yet
    ShotMeta meta;
    ShotMark mark;  // stars, pick or reject, as written beside the picture
    // The white balance in Kelvin the camera told when the picture arrived; none when it
    // told none (an automatic white balance).
    std::optional<int> colorTemperature;
    // What the client watching the session said of it: a favourite, a short comment.
    bool clientFavourite = false;
    QString clientComment;

    // "♥ クライアント「もう少し明るく」"; empty when the client said nothing.
    QString clientNoteText() const {
        if (!clientFavourite && clientComment.isEmpty()) return {};
        QString text =
            clientFavourite ? QStringLiteral("♥ クライアント") : QStringLiteral("クライアント");
        if (!clientComment.isEmpty())
            text += QStringLiteral("「") + clientComment + QStringLiteral("」");
        return text;
    }
};

// A picture between the shutter and the disk: released and not yet announced (no name), or
// on its way (name, bytes received of the size the camera announced; total 0 when unknown).
struct IncomingShot {
    QString name;
    std::uint64_t received = 0;
    std::uint64_t total = 0;

    // 0–100 while the size is known, none otherwise.
    std::optional<int> percent() const {
        if (total == 0 || name.isEmpty()) return std::nullopt;
        return static_cast<int>(std::min<std::uint64_t>(received, total) * 100 / total);
    }
    friend bool operator==(const IncomingShot&, const IncomingShot&) = default;
};

}  // namespace pexil
