#pragma once

#include "app/session/SessionModel.h"

namespace pexil::shell {

// The shot the windows show: the one whose id is the selection, else the newest (shots are
// kept newest first). Null without shots.
inline const Shot* selectedShot(const ShotList& shots, const std::optional<QUuid>& selection) {
    if (shots.empty()) return nullptr;
    if (selection)
        for (const Shot& shot : shots)
            if (shot.id == *selection) return &shot;
    return &shots.front();
}

}  // namespace pexil::shell
