#include "app/shell/card/CardTexts.h"

#include "app/shots/ShotMeta.h"

#include <QLocale>

namespace pexil::shell::CardTexts {

namespace {
QString n(qint64 value) {
    return QString::number(value);
}
}  // namespace

QString cardLabel(bool loading, std::size_t items) {
    if (loading && items == 0) return QStringLiteral("カード 読込中");
    return QStringLiteral("カード ") + n(qint64(items));
}

QString tetherLabel(std::size_t shots) {
    return QStringLiteral("テザー ") + n(qint64(shots));
}

QString dateTime(const std::optional<QDateTime>& date) {
    return dateTimeText(date);
}

QString dateShortTime(const std::optional<QDateTime>& date) {
    if (!date || !date->isValid()) return {};
    return QLocale(QLocale::Japanese).toString(*date, QStringLiteral("yyyy年M月d日 H:mm"));
}

QString fileSize(qint64 bytes) {
    return QLocale(QLocale::Japanese).formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

QString hint() {
    return QStringLiteral("クリックで選択、Ctrl・Shift で複数選択、ダブルクリックで大きく表示");
}

QString selectedCount(std::size_t selected) {
    return n(qint64(selected)) + QStringLiteral(" 枚を選択中");
}

QString importSelectedText(int count) {
    return QStringLiteral("選んだ ") + n(count) + QStringLiteral(" 枚を取り込む");
}

QString importAllText(std::size_t count) {
    return QStringLiteral("未取り込みをすべて取り込む（") + n(qint64(count)) + QStringLiteral("）");
}

QString resumeText(std::size_t count) {
    return QStringLiteral("続きを取り込む（") + n(qint64(count)) + QStringLiteral(" 枚）");
}

QString importAllWaitHelp() {
    return QStringLiteral("カードの一覧が出そろってから使えます");
}

QString statusText(const std::optional<ImportPhase>& phase, const std::optional<QString>& summary,
                   bool loading, std::size_t items, const std::optional<int>& expected,
                   std::size_t unimported) {
    if (phase && phase->kind == ImportPhase::Kind::downloading)
        return QStringLiteral("取り込み中 ") + n(phase->done) + QStringLiteral(" / ") +
               n(phase->total);
    if (phase)
        return QStringLiteral("位置を書き込み中（") + n(phase->count) + QStringLiteral(" 枚）");
    if (summary) return *summary;
    if (loading) {
        QString text = QStringLiteral("カードを読み込み中 ") + n(qint64(items));
        if (expected) text += QStringLiteral(" / ") + n(*expected);
        return text + QStringLiteral(" 件");
    }
    return n(qint64(items)) + QStringLiteral(" 枚・未取り込み ") + n(qint64(unimported)) +
           QStringLiteral(" 枚");
}

QString geoText(bool hasRecord, int locatable) {
    if (!hasRecord)
        return QStringLiteral(
            "位置情報なし。iPhone の Pexil から PC へ送ると、取り込むときに書き込めます");
    return QStringLiteral("位置あり ") + n(locatable) + QStringLiteral(" 枚");
}

QString geoHelp(const std::optional<QString>& sender, const std::optional<QDateTime>& receivedAt,
                std::size_t shotPositions, std::size_t trackPoints) {
    const QString who = sender && !sender->isEmpty() ? *sender : QStringLiteral("iPhone");
    return who + QStringLiteral(" から ") + dateShortTime(receivedAt) +
           QStringLiteral(" に受け取った記録（正確な位置 ") + n(qint64(shotPositions)) +
           QStringLiteral(" 件・軌跡 ") + n(qint64(trackPoints)) + QStringLiteral(" 点）");
}

QString locatableHelp() {
    return QStringLiteral("iPhone の記録から位置を付けられます");
}
QString importedHelp() {
    return QStringLiteral("取り込み済み");
}
QString emptyCard() {
    return QStringLiteral("カードに写真がありません");
}
QString noCamera() {
    return QStringLiteral("カメラがつながっていません。つながると、カードの写真がここに並びます");
}
QString closeHelp() {
    return QStringLiteral("一覧へ戻る（Esc）");
}

}  // namespace pexil::shell::CardTexts
