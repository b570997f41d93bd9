#pragma once

#include "app/naming/NameTemplate.h"

#include <QDateTime>
#include <QSettings>
#include <QString>

#include <optional>

namespace pexil {

// Names the tethered pictures as the photographer chose: a template and a session, with the
// session's running counter kept in the preference store, so that it continues after a
// restart. With the empty template pictures keep the camera's names.
//
// Threads: main thread only.
class PictureNamer {
public:
    explicit PictureNamer(QSettings& store) : store_(store) {}

    void configure(NameTemplate nameTemplate, QString session);
    const NameTemplate& nameTemplate() const { return template_; }

    // The name the camera's `cameraName` is saved under in `folder`. The two files of one
    // shot (DSC_0001.NEF and DSC_0001.JPG) share a counter. A name the folder already holds
    // moves the counter on, so another run into the same folder, or a store that was lost,
    // continues the series rather than adding "-1".
    QString nameFor(const QString& cameraName, const QDateTime& taken, const QString& model,
                    const QString& folder);
    // `cameraName` was saved under the name nameFor gave it last: the counter moves past it.
    void saved(const QString& cameraName);
    // The counter the next shot of the session gets.
    int nextCounter() const;

private:
    QString counterKey() const;

    QSettings& store_;
    NameTemplate template_;
    QString session_;
    struct Named {
        QString cameraName;
        int counter = 1;
    };
    std::optional<Named> pending_;
    std::optional<Named> last_;
};

}  // namespace pexil
