#include "app/naming/PictureNamer.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace pexil {

namespace {

// However full the folder, naming a picture never turns into a long search.
constexpr int maxSkips = 10000;

}  // namespace

void PictureNamer::configure(NameTemplate nameTemplate, QString session) {
    template_ = std::move(nameTemplate);
    if (session == session_) return;
    last_.reset();
    pending_.reset();
    session_ = std::move(session);
}

QString PictureNamer::counterKey() const {
    // Any session name makes a valid key; "-" is the session without a name.
    const QString name = session_.isEmpty()
                             ? QStringLiteral("-")
                             : QString::fromLatin1(QUrl::toPercentEncoding(session_));
    return QStringLiteral("nameCounters/") + name;
}

int PictureNamer::nextCounter() const {
    bool ok = false;
    const int stored = store_.value(counterKey()).toInt(&ok);
    return ok && stored >= 1 ? stored : 1;
}

QString PictureNamer::nameFor(const QString& cameraName, const QDateTime& taken,
                              const QString& model, const QString& folder) {
    NameFields fields{session_, taken, nextCounter(), cameraName, model};
    if (template_.isCameraName()) return cameraName;
    if (last_ && NameTemplate::stemOf(last_->cameraName) == NameTemplate::stemOf(cameraName) &&
        last_->cameraName != cameraName) {
        fields.counter = last_->counter;
    } else if (template_.usesCounter()) {
        const QDir dir(folder);
        for (int skips = 0; skips < maxSkips && QFileInfo::exists(dir.filePath(template_.render(fields)));
             ++skips)
            ++fields.counter;
    }
    pending_ = Named{cameraName, fields.counter};
    return template_.render(fields);
}

void PictureNamer::saved(const QString& cameraName) {
    if (!pending_ || pending_->cameraName != cameraName) return;
    last_ = pending_;
    pending_.reset();
    if (last_->counter >= nextCounter()) {
        store_.setValue(counterKey(), last_->counter + 1);
        store_.sync();
    }
}

}  // namespace pexil
