#pragma once

class QDialog;
class QDialogButtonBox;

namespace pexil::shell {

// The 撮影開始 / キャンセル buttons that end a series' dialog, wired to accept and reject.
QDialogButtonBox* startButtons(QDialog* dialog);

}  // namespace pexil::shell
