#pragma once

class QWidget;

namespace pexil {
class ShotsModel;
}

namespace pexil::shell {

// The marking keys on `on` and its children: 0–5 give the shot shown that many stars, P
// picks it, X rejects it (each again takes it back). Only while the focus is inside `on`,
// so typing elsewhere never marks a picture.
void installMarkKeys(QWidget* on, ShotsModel& shots);

}  // namespace pexil::shell
