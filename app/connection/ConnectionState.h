#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

namespace pexil {

// Where the session stands, as the windows show it. Equality compares the case and its text.
struct ConnectionState {
    enum class Kind { waiting, connecting, connected, failed, disconnected };
    Kind kind = Kind::disconnected;
    // waiting: why the last session ended (none: nothing to say); connected: the camera's
    // name; failed: the reason.
    std::optional<QString> text;

    static ConnectionState waiting(std::optional<QString> why = std::nullopt) {
        return {Kind::waiting, std::move(why)};
    }
    static ConnectionState connecting() { return {Kind::connecting, {}}; }
    static ConnectionState connected(QString name) { return {Kind::connected, std::move(name)}; }
    static ConnectionState failed(QString reason) { return {Kind::failed, std::move(reason)}; }
    static ConnectionState disconnected() { return {}; }

    bool is(Kind k) const { return kind == k; }
    friend bool operator==(const ConnectionState&, const ConnectionState&) = default;
};

// What the camera is waiting for while it warms up.
struct Warmup {
    enum class Kind { system, card };
    Kind kind = Kind::system;
    QString name;
    friend bool operator==(const Warmup&, const Warmup&) = default;
};

// Feedback of the autofocus button; a result stays for two seconds.
struct AFState {
    enum class Kind { idle, running, succeeded, failed };
    Kind kind = Kind::idle;
    QString text;  // failed: why

    static AFState idle() { return {}; }
    static AFState running() { return {Kind::running, {}}; }
    static AFState succeeded() { return {Kind::succeeded, {}}; }
    static AFState failed(QString why) { return {Kind::failed, std::move(why)}; }
    friend bool operator==(const AFState&, const AFState&) = default;
};

}  // namespace pexil

Q_DECLARE_METATYPE(pexil::ConnectionState)
Q_DECLARE_METATYPE(pexil::AFState)
