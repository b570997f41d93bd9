#include "app/shell/ShellTexts.h"

#include <QRegularExpression>

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace pexil::shell::ShellTexts {

namespace {
using Kind = ConnectionState::Kind;

QString connectingText(const std::optional<Warmup>& warmup, bool nameAlone) {
    if (!warmup) return QStringLiteral("接続中…");
    if (warmup->kind == Warmup::Kind::card && !nameAlone) return QStringLiteral("カードを確認中…");
    if (nameAlone) return warmup->name;
    return warmup->name + QStringLiteral(" を準備中…");
}

QString common(const ConnectionState& state, const std::optional<Warmup>& warmup, bool nameAlone) {
    switch (state.kind) {
        case Kind::waiting: return QStringLiteral("カメラを待っています");
        case Kind::connected: return state.text.value_or(QString());
        case Kind::failed:
        case Kind::disconnected: return QStringLiteral("未接続");
        case Kind::connecting: return connectingText(warmup, nameAlone);
    }
    return {};
}
}  // namespace

QString status(const ConnectionState& state, const std::optional<Warmup>& warmup) {
    return common(state, warmup, false);
}

QString summaryTitle(const ConnectionState& state, const std::optional<Warmup>& warmup) {
    return common(state, warmup, true);
}

std::optional<QString> menuDetail(const ConnectionState& state) {
    switch (state.kind) {
        case Kind::waiting:
            return QStringLiteral("USB でつないで、カメラの電源を入れてください。見つかると自動でつながります");
        case Kind::connecting:
            return QStringLiteral("電源を入れた直後は、つながるまで 1 分ほどかかることがあります");
        case Kind::failed: return state.text.value_or(QString());
        case Kind::connected:
        case Kind::disconnected: return std::nullopt;
    }
    return std::nullopt;
}

QString warmupTitle(const Warmup& warmup) {
    return warmup.kind == Warmup::Kind::card ? QStringLiteral("カードを確認中")
                                             : warmup.name + QStringLiteral(" を準備しています");
}

QString warmupDetail(double elapsedSeconds) {
    if (elapsedSeconds > 120)
        return QStringLiteral("時間がかかっています。つながらないときは、USB ケーブルを挿し直すか、カメラの電源を入れ直してください");
    return QStringLiteral("電源を入れた直後は、つながるまで 1 分ほどかかることがあります");
}

QString elapsedText(double seconds) {
    const auto total = static_cast<long long>(std::max(0.0, std::floor(seconds)));
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QChar(u'0'));
}

QString lost(const QString& reason, const std::optional<QDateTime>& next) {
    QString text = QStringLiteral("カメラとの接続が切れました（%1）。").arg(reason.trimmed().remove(QRegularExpression(QStringLiteral("[。.]$"))));
    if (next)
        text += QStringLiteral("%1 にもう一度つなぎます").arg(next->toString(QStringLiteral("HH:mm:ss")));
    else
        text += QStringLiteral("カメラが戻ると自動でつながります");
    return text;
}

QString reconnectAt(const QDateTime& next) {
    return QStringLiteral("接続が切れました。%1 にもう一度つなぎます").arg(next.toString(QStringLiteral("HH:mm:ss")));
}

QString incoming(const IncomingShot& shot) {
    if (shot.name.isEmpty()) return QStringLiteral("写真を待っています…");
    const auto percent = shot.percent();
    return QStringLiteral("%1 を受け取っています…").arg(shot.name) +
           (percent ? QStringLiteral(" %1%").arg(*percent) : QString());
}

QString previewEmpty(const ConnectionState& state) {
    if (state.is(Kind::connected)) return QStringLiteral("カメラのシャッターを押すと、ここに表示されます");
    if (state.is(Kind::waiting)) return QStringLiteral("カメラを待っています");
    return QStringLiteral("カメラを USB で接続してください");
}

QString inspectorPlaceholder(const ConnectionState& state) {
    if (state.is(Kind::connecting)) return QStringLiteral("つながると、ここで露出や画質を変えられます。");
    return QStringLiteral("カメラをつなぐと、ここで露出や画質を変えられます。");
}

std::optional<QString> warning(const std::optional<QString>& destinationProblem,
                               const QStringList& failedTransfers,
                               const std::optional<QString>& ledgerProblem) {
    if (destinationProblem) return *destinationProblem;
    // After the pictures themselves: a record that cannot be kept loses marks, not pictures.
    if (ledgerProblem && failedTransfers.isEmpty()) return *ledgerProblem;
    if (failedTransfers.isEmpty()) return std::nullopt;
    return QStringLiteral("転送できなかったコマ: ") + failedTransfers.join(QStringLiteral(", ")) +
           QStringLiteral("  — カメラのカードには残っています");
}

std::optional<QString> backupWarning(const std::optional<QString>& problem,
                                     const QStringList& missing) {
    if (missing.isEmpty()) return problem;
    QString text = QStringLiteral("控えのない写真 %1 枚: ").arg(missing.size()) +
                   missing.join(QStringLiteral(", ")) +
                   QStringLiteral("  — 保存先には保存されています");
    if (problem) text += QStringLiteral("　／　") + *problem;
    return text;
}

QString batterySymbol(std::int64_t level) {
    if (level > 80) return QStringLiteral("battery.100percent");
    if (level > 60) return QStringLiteral("battery.75percent");
    if (level > 40) return QStringLiteral("battery.50percent");
    if (level > 0) return QStringLiteral("battery.25percent");
    return QStringLiteral("battery.0percent");
}

bool batteryIsLow(std::int64_t level) { return level <= 20; }

QString batteryRange(std::int64_t level) {
    if (level >= 100) return QStringLiteral("満充電");
    return QStringLiteral("%1〜%2%").arg(std::max<std::int64_t>(0, level - 19)).arg(level);
}

QString liveViewItem(bool isLive) {
    return isLive ? QStringLiteral("ライブビューを止める") : QStringLiteral("ライブビューを開始");
}

}  // namespace pexil::shell::ShellTexts
