#pragma once

#include "app/card/CardItem.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace pexil {
class CardModel;
class GeoStore;
}  // namespace pexil

namespace pexil::shell {

// The texts of the card browser, derived from the card model and the geo store, kept apart
// from the widgets so each rule can be checked on its own.
namespace CardTexts {

// The card segment of the source switch: "カード 読込中" while the catalogue loads with
// nothing in it yet, otherwise "カード N".
QString cardLabel(bool loading, std::size_t items);
QString tetherLabel(std::size_t shots);

// "2026年12月7日 17:54:59"; empty without a date.
QString dateTime(const std::optional<QDateTime>& date);
// "2026年12月7日 17:54"; empty without a date.
QString dateShortTime(const std::optional<QDateTime>& date);
// The camera's byte count as a file size ("24.5 MB").
QString fileSize(qint64 bytes);

// The information row without a described item.
QString hint();
QString selectedCount(std::size_t selected);

QString importSelectedText(int count);
QString importAllText(std::size_t count);
QString importAllWaitHelp();
// The offer after an import cut by the camera's loss, when the camera is back.
QString resumeText(std::size_t count);

// The status line's text for the case that applies (the summary itself in its case).
QString statusText(const std::optional<ImportPhase>& phase, const std::optional<QString>& summary,
                   bool loading, std::size_t items, const std::optional<int>& expected,
                   std::size_t unimported);

// The geo line's text and its help; with no record, the text that says how to get one and
// no help.
QString geoText(bool hasRecord, int locatable);
QString geoHelp(const std::optional<QString>& sender, const std::optional<QDateTime>& receivedAt,
                std::size_t shotPositions, std::size_t trackPoints);

// The help texts of a cell's badges.
QString locatableHelp();
QString importedHelp();

// The empty card and the large view's close button.
// The card browser without a camera: not an empty card, but no card to show.
QString noCamera();
QString emptyCard();
QString closeHelp();

}  // namespace CardTexts
}  // namespace pexil::shell
