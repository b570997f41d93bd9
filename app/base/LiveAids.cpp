#include "app/base/LiveAids.h"

#include "app/base/Preferences.h"

namespace pexil {

namespace {

const QString peakingKey = QStringLiteral("liveView/peaking");
const QString histogramKey = QStringLiteral("liveView/histogram");
const QString clippingKey = QStringLiteral("liveView/clipping");
const QString guideKey = QStringLiteral("liveView/guide");

bool flag(const QSettings& store, const QString& key) {
    return Preferences::storedBool(store, key).value_or(false);
}

}  // namespace

LiveAids LiveAids::read(const QSettings& store) {
    LiveAids out;
    out.peaking = flag(store, peakingKey);
    out.histogram = flag(store, histogramKey);
    out.clipping = flag(store, clippingKey);
    bool ok = false;
    const int guide = store.value(guideKey).toInt(&ok);
    if (ok && guide >= 0 && guide < guideCount) out.guide = static_cast<Guide>(guide);
    return out;
}

void LiveAids::write(QSettings& store) const {
    store.setValue(peakingKey, peaking);
    store.setValue(histogramKey, histogram);
    store.setValue(clippingKey, clipping);
    store.setValue(guideKey, static_cast<int>(guide));
}

LiveAids::Guide LiveAids::next(Guide guide) {
    return static_cast<Guide>((static_cast<int>(guide) + 1) % guideCount);
}

}  // namespace pexil
