#pragma once

#include <QString>

#include <vector>

namespace pexil {

// One finding of the device doctor: how it stands, what it is about, what was seen, and the
// command that mends it. A plain value.
struct DoctorFinding {
    enum class Level { ok, warn, fail };

    Level level = Level::ok;
    // One lower-case word that scripts may rely on: usb, udev, access, holder, autosuspend,
    // exiftool, avahi, destination, log.
    QString topic;
    // For the user, in Japanese; a line break in it is shown as a space.
    QString text;
    // The exact command that mends the problem, to paste into a terminal; empty when there
    // is no command to give (no camera plugged in, say).
    QString fix;

    static DoctorFinding ok(QString topic, QString text) {
        return {Level::ok, std::move(topic), std::move(text), {}};
    }
    static DoctorFinding warn(QString topic, QString text, QString fix = {}) {
        return {Level::warn, std::move(topic), std::move(text), std::move(fix)};
    }
    static DoctorFinding fail(QString topic, QString text, QString fix = {}) {
        return {Level::fail, std::move(topic), std::move(text), std::move(fix)};
    }

    // "ok", "warn" or "fail".
    static QString levelName(Level level);

    // "LEVEL TOPIC: TEXT\n", then "  fix: FIX\n" when there is a fix. Every line break or
    // other control character inside the texts becomes a space, so each finding keeps to
    // its lines whatever a device or a file name put into them.
    QString format() const;

    friend bool operator==(const DoctorFinding&, const DoctorFinding&) = default;
};

// Every finding formatted, in order.
QString formatReport(const std::vector<DoctorFinding>& findings);
// The same for the diagnosis window, in the program's words: "問題なし", "注意", "問題"
// before each finding, and "直し方: " before its command.
QString formatReportForPeople(const std::vector<DoctorFinding>& findings);
// Whether any finding is a failure (the doctor's exit status is 1 then).
bool anyFailed(const std::vector<DoctorFinding>& findings);

}  // namespace pexil
