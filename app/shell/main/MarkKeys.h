#pragma once

#include "app/shots/ShotMark.h"

#include <optional>

class QWidget;

namespace pexil {
class ShotsModel;
}

namespace pexil::shell {

// What a marking key makes of `current`: 0–5 give that many stars, P picks, X rejects (each
// again takes it back); none for any other key.
std::optional<ShotMark> markForKey(int key, const ShotMark& current);

// The marking keys on `on` and its children, for the shot shown. Only while the focus is
// inside `on`, so typing elsewhere never marks a picture.
void installMarkKeys(QWidget* on, ShotsModel& shots);

}  // namespace pexil::shell
