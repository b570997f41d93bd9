#include "app/shell/main/MarkKeys.h"

#include "app/shots/ShotsModel.h"

#include <QShortcut>
#include <QWidget>

namespace pexil::shell {

std::optional<ShotMark> markForKey(int key, const ShotMark& current) {
    if (key >= Qt::Key_0 && key <= Qt::Key_5) return current.withStars(key - Qt::Key_0);
    if (key == Qt::Key_P) return current.togglePick();
    if (key == Qt::Key_X) return current.toggleReject();
    return std::nullopt;
}

void installMarkKeys(QWidget* on, ShotsModel& shots) {
    for (const int key : {int(Qt::Key_0), int(Qt::Key_1), int(Qt::Key_2), int(Qt::Key_3),
                          int(Qt::Key_4), int(Qt::Key_5), int(Qt::Key_P), int(Qt::Key_X)}) {
        auto* shortcut = new QShortcut(QKeySequence(key), on);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, on, [&shots, key] {
            if (const Shot* shot = shots.shown())
                if (auto mark = markForKey(key, shot->mark)) shots.mark(shot->id, *mark);
        });
    }
}

}  // namespace pexil::shell
