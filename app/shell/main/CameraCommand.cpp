#include "app/shell/main/CameraCommand.h"

#include "app/shell/ShellTexts.h"

namespace pexil::shell::CameraCommands {

bool isEnabled(CameraCommand command, const ConnectionState& state, bool cardShown) {
    using Kind = ConnectionState::Kind;
    switch (command) {
        case CameraCommand::liveView: return state.is(Kind::connected) && !cardShown;
        case CameraCommand::connect: return !state.is(Kind::connected);
        case CameraCommand::disconnect: return !state.is(Kind::failed) && !state.is(Kind::disconnected);
        case CameraCommand::geotag:
        case CameraCommand::openDestination: return true;
        case CameraCommand::autofocus:
        case CameraCommand::shoot:
        case CameraCommand::refreshSettings:
        case CameraCommand::releaseControl:
        case CameraCommand::syncClock: return state.is(Kind::connected);
    }
    return false;
}

QString title(CameraCommand command, bool isLive) {
    switch (command) {
        case CameraCommand::connect: return QStringLiteral("接続");
        case CameraCommand::disconnect: return QStringLiteral("切断");
        case CameraCommand::liveView: return ShellTexts::liveViewItem(isLive);
        case CameraCommand::autofocus: return QStringLiteral("AF を実行");
        case CameraCommand::shoot: return QStringLiteral("シャッター");
        case CameraCommand::refreshSettings: return QStringLiteral("設定を再読み込み");
        case CameraCommand::releaseControl: return QStringLiteral("本体の操作を戻す");
        case CameraCommand::syncClock: return QStringLiteral("時計を PC に合わせる");
        case CameraCommand::geotag: return QStringLiteral("位置情報を付与…");
        case CameraCommand::openDestination: return QStringLiteral("保存先を開く");
    }
    return {};
}

QKeySequence shortcut(CameraCommand command) {
    switch (command) {
        case CameraCommand::liveView: return QKeySequence(Qt::CTRL | Qt::Key_L);
        case CameraCommand::autofocus: return QKeySequence(Qt::CTRL | Qt::Key_F);
        case CameraCommand::shoot: return QKeySequence(Qt::CTRL | Qt::Key_T);
        case CameraCommand::refreshSettings: return QKeySequence(Qt::CTRL | Qt::Key_R);
        case CameraCommand::geotag: return QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G);
        default: return {};
    }
}

QString help(CameraCommand command) {
    if (command == CameraCommand::releaseControl)
        return QStringLiteral("上面液晶の PC 表示を解除し、本体側の操作を有効にします");
    return {};
}

}  // namespace pexil::shell::CameraCommands
