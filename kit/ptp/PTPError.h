#pragma once

#include "kit/ptp/PTPCodes.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

namespace pexil {

// The protocol library's error: the camera answered with a code other than OK (or the
// command was refused locally with that code), no answer came in time, or there is no
// camera.
class PTPError {
public:
    enum class Kind { response, timedOut, notConnected };

    static PTPError response(std::uint16_t code) { return PTPError(Kind::response, code, {}); }
    static PTPError response(PTP::Response code) { return response(PTP::code(code)); }
    static PTPError timedOut(QString what) { return PTPError(Kind::timedOut, 0, std::move(what)); }
    static PTPError notConnected() { return PTPError(Kind::notConnected, 0, {}); }

    Kind kind() const { return kind_; }
    // The response code of response(code); none for the other cases.
    std::optional<std::uint16_t> code() const;
    const QString& what() const { return what_; }
    // The text shown to the user.
    QString description() const;

    friend bool operator==(const PTPError&, const PTPError&) = default;

private:
    PTPError(Kind kind, std::uint16_t code, QString what)
        : kind_(kind), code_(code), what_(std::move(what)) {}
    Kind kind_;
    std::uint16_t code_;
    QString what_;
};

// A failure of the transport below PTP (a cable pulled, a socket closed): kept apart from
// the camera's own response codes.
struct TransportError {
    QString message;
    friend bool operator==(const TransportError&, const TransportError&) = default;
};

// What a camera command can fail with.
using CameraError = std::variant<PTPError, TransportError>;

QString describe(const CameraError& error);
// The response code when the error is PTPError::response.
std::optional<std::uint16_t> responseCodeOf(const CameraError& error);

}  // namespace pexil
