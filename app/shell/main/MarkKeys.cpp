#include "app/shell/main/MarkKeys.h"

#include "app/shots/ShotsModel.h"

#include <QShortcut>
#include <QWidget>

#include <functional>

namespace pexil::shell {

void installMarkKeys(QWidget* on, ShotsModel& shots) {
    auto bind = [on, &shots](int key, std::function<ShotMark(const ShotMark&)> change) {
        auto* shortcut = new QShortcut(QKeySequence(key), on);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        QObject::connect(shortcut, &QShortcut::activated, on, [&shots, change] {
            if (const Shot* shot = shots.shown()) shots.mark(shot->id, change(shot->mark));
        });
    };
    for (int stars = 0; stars <= 5; ++stars)
        bind(Qt::Key_0 + stars, [stars](const ShotMark& m) { return m.withStars(stars); });
    bind(Qt::Key_P, [](const ShotMark& m) { return m.togglePick(); });
    bind(Qt::Key_X, [](const ShotMark& m) { return m.toggleReject(); });
}

}  // namespace pexil::shell
