#pragma once

#include "app/shots/ShotMeta.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QUuid>

namespace pexil {

// One picture that arrived during the session. A value identified by `id`; the thumbnail and
// the metadata are filled in together once the saved file has been decoded.
struct Shot {
    QUuid id;
    QString path;  // where the picture was saved
    QDateTime arrived;
    QImage thumbnail;  // null image = none yet
    ShotMeta meta;
};

}  // namespace pexil
