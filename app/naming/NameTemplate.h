#pragma once

#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QString>

#include <vector>

namespace pexil {

// What a saved picture's name may be made of.
struct NameFields {
    QString session;
    QDateTime taken;     // the capture time (local time is used)
    int counter = 1;     // the session's running number
    QString cameraName;  // the camera's own file name, "DSC_0001.NEF"
    QString model;       // the camera's model, "D850"
};

// A file-naming template: text with fields in braces. {session}, {date} (yyyyMMdd),
// {time} (HHmmss), {counter} or {counter:N} (N digits, 1–9), {name} (the camera's name
// without its extension), {number} (the digits the camera's name ends in) and {model}. The
// camera name's extension is always kept. The empty template is the camera's own name.
class NameTemplate {
public:
    NameTemplate() = default;
    // The template of `text`, or the photographer's text saying what is wrong with it.
    static Result<NameTemplate, QString> parse(const QString& text);

    bool isCameraName() const { return pieces_.empty(); }
    bool usesCounter() const;
    // The file name for `fields`. Characters a file name cannot hold that come from the
    // fields become "_"; a template that renders empty gives the camera's name.
    QString render(const NameFields& fields) const;

    // The camera's name without its extension: "DSC_0001" of "DSC_0001.NEF".
    static QString stemOf(const QString& cameraName);

    // The longest template taken, in characters.
    static constexpr int maxLength = 120;

private:
    struct Piece {
        enum class Kind { text, session, date, time, counter, name, number, model };
        Kind kind = Kind::text;
        QString text;
        int width = 1;
    };
    std::vector<Piece> pieces_;
};

}  // namespace pexil
