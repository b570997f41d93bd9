#include "camera/virtual/VirtualObjectInfo.h"

#include "kit/ptp/PTP.h"

#include <algorithm>

namespace pexil::camera {

namespace {

void appendText(Bytes& out, const QString& text) {
    if (text.isEmpty()) {
        out.push_back(0);  // cameras send an empty string as a bare zero count
        return;
    }
    const Bytes encoded = PTP::encodeString(text);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

}  // namespace

QString ptpDate(const QDateTime& date) {
    if (!date.isValid()) return {};
    return date.toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

Bytes VirtualObjectInfo::encode() const {
    Bytes out;
    PTP::appendLE(out, storageId);
    PTP::appendLE(out, format);
    PTP::appendLE(out, protection);
    PTP::appendLE(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFFULL)));
    PTP::appendLE(out, thumbFormat);
    PTP::appendLE(out, thumbSize);
    PTP::appendLE(out, thumbWidth);
    PTP::appendLE(out, thumbHeight);
    PTP::appendLE(out, imageWidth);
    PTP::appendLE(out, imageHeight);
    PTP::appendLE(out, imageBitDepth);
    PTP::appendLE(out, parent);
    PTP::appendLE(out, associationType);
    PTP::appendLE(out, associationDesc);
    PTP::appendLE(out, sequenceNumber);
    appendText(out, filename);
    appendText(out, ptpDate(captureDate));
    appendText(out, ptpDate(modificationDate));
    appendText(out, keywords);
    return out;
}

}  // namespace pexil::camera
