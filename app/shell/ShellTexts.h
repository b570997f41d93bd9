#pragma once

#include "app/connection/ConnectionState.h"
#include "app/shots/Shot.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

namespace pexil::shell {

// The texts the main window derives from the session's state, kept apart from the widgets so
// each rule can be checked on its own.
namespace ShellTexts {

// The camera menu's title.
QString status(const ConnectionState& state, const std::optional<Warmup>& warmup);
// The inspector's title: as status(), but while warming up the camera's name alone.
QString summaryTitle(const ConnectionState& state, const std::optional<Warmup>& warmup);
// The camera menu's second line; none when connected or disconnected.
std::optional<QString> menuDetail(const ConnectionState& state);

QString warmupTitle(const Warmup& warmup);
// After more than two minutes the text says what to try; exactly 120 s is still patient.
QString warmupDetail(double elapsedSeconds);
// "1:05", "12:00", "1:02:03".
QString elapsedText(double seconds);

// What the preview says when it has no picture.
QString previewEmpty(const ConnectionState& state);
// The warning strip after the camera was lost for `reason`: when it is tried again (a camera
// on the network), or that it reconnects by itself when it comes back.
QString lost(const QString& reason, const std::optional<QDateTime>& next);
// The waiting view while a lost camera on the network is tried again at `next`.
QString reconnectAt(const QDateTime& next);
// The preview pane with no picture yet while one is coming: what is happening to it.
QString incoming(const IncomingShot& shot);
// The inspector's text while no settings can be shown.
QString inspectorPlaceholder(const ConnectionState& state);

// The warning strip's one line: the destination problem first, else the failed files, else a
// problem of the import record; none when there is nothing to warn about.
std::optional<QString> warning(const std::optional<QString>& destinationProblem,
                               const QStringList& failedTransfers,
                               const std::optional<QString>& ledgerProblem = std::nullopt);
// The backup strip's one line: the pictures without a backup copy and why, or only why when
// none is missing yet (the backup disk is not there); none while all is well.
std::optional<QString> backupWarning(const std::optional<QString>& problem,
                                     const QStringList& missing);

// Battery: the symbol of the design by level, danger at 20 and below, and the help text
// ("カメラの電池 31〜50%", "カメラの電池 満充電").
QString batterySymbol(std::int64_t level);
bool batteryIsLow(std::int64_t level);
QString batteryRange(std::int64_t level);

QString liveViewItem(bool isLive);

}  // namespace ShellTexts
}  // namespace pexil::shell
