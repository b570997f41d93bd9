#pragma once

#include "app/geo/GeoPayload.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/Result.h"

#include <QString>

namespace pexil::Gpx {

// Reads the tracks of a GPX 1.1 or 1.0 file as a record without exact shot positions:
// every trkpt of every trk/trkseg, in document order, becomes a track point (lat and lon
// attributes, <time> in UTC with any fraction of a second dropped, <ele> as altitude when
// present). `generated` is the file's own time (metadata/time, or gpx/time in 1.0) when
// readable, else the first point's time. Waypoints and routes are not tracks and are
// skipped. Any thread; no I/O.
//
// Fails, with a Japanese description, on XML that does not parse, a root that is not gpx,
// a point without a readable time or with unreadable lat, lon or ele, a point out of range
// (GeoPosition::fault: the whole file is refused, no point is silently dropped), a file
// without a single track point, and a file too large to be a plausible track.
Result<GeoPayload, QString> read(ByteView xml);

}  // namespace pexil::Gpx
