#pragma once

#include <QString>

#include <algorithm>

namespace pexil {

// How the photographer marked a shot: stars, a pick, or a reject. A reject is rating −1, as
// the raw editors keep it; a pick and a reject exclude each other.
struct ShotMark {
    int rating = 0;  // 0–5 stars, −1 rejected
    bool picked = false;

    bool rejected() const { return rating < 0; }
    // The keys: 0–5 give stars (and take back a reject), P turns the pick on or off, X the
    // reject.
    ShotMark withStars(int stars) const { return {std::clamp(stars, 0, 5), picked}; }
    ShotMark togglePick() const { return {std::max(rating, 0), !picked}; }
    ShotMark toggleReject() const { return {rejected() ? 0 : -1, false}; }

    // For screen readers and tool tips: "星 3、ピック", "不採用"; empty when unmarked.
    QString spoken() const {
        if (rejected()) return QStringLiteral("不採用");
        QString text = rating > 0 ? QStringLiteral("星 %1").arg(rating) : QString();
        if (picked)
            text += (text.isEmpty() ? QString() : QStringLiteral("、")) + QStringLiteral("ピック");
        return text;
    }
    friend bool operator==(const ShotMark&, const ShotMark&) = default;
};

}  // namespace pexil
