#pragma once

#include "app/clientview/HttpHead.h"

#include <QByteArray>
#include <QString>

#include <variant>

namespace pexil {

// What a client of the view may ask, and nothing else: the page and its two files, the list
// of shots, one shot's preview (or original), a favourite, a comment, and the live socket.
// Pictures are named by the identifiers the view gave out, never by a path.
struct ClientRequest {
    enum class Kind { page, script, style, shots, preview, original, favourite, comment, live };
    Kind kind = Kind::page;
    QString id;  // the shot's, for preview, original, favourite and comment
    friend bool operator==(const ClientRequest&, const ClientRequest&) = default;
};

// A request turned away, with the status it is answered with.
struct ClientRefusal {
    int status = 404;
    friend bool operator==(const ClientRefusal&, const ClientRefusal&) = default;
};

using ClientRoute = std::variant<ClientRequest, ClientRefusal>;

// Bodies the view accepts: a favourite or a comment in JSON, a few hundred bytes at most.
inline constexpr qint64 maxClientBody = 2048;

// Judges a request by its head alone, in this order: the access token (401 without it or
// with another), the target (404 for anything but the routes above: a dot segment, an
// encoded or doubled slash, a backslash, an absolute form, an unknown parameter or
// identifier), the method (405), then the body (411 without a length, 413 beyond
// maxClientBody, 400 for a live socket without the WebSocket upgrade). The token is compared
// in constant time.
ClientRoute routeClient(const HttpHead& head, const QByteArray& token);

// The identifiers the view gives out: letters and digits, 1 to 32 of them.
bool isClientId(QByteArrayView id);

}  // namespace pexil
