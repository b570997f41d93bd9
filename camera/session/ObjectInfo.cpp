#include "camera/session/ObjectInfo.h"

#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"

namespace pexil::camera {

QString formatPTPDate(const QDateTime& date) {
    if (!date.isValid()) return {};
    return date.toLocalTime().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
}

std::optional<QDateTime> parsePTPDate(const QString& text) {
    if (text.size() < 15 || text.at(8) != u'T') return std::nullopt;
    for (int i = 0; i < 15; ++i)
        if (i != 8 && !text.at(i).isDigit()) return std::nullopt;
    const QDate date(text.mid(0, 4).toInt(), text.mid(4, 2).toInt(), text.mid(6, 2).toInt());
    const QTime time(text.mid(9, 2).toInt(), text.mid(11, 2).toInt(), text.mid(13, 2).toInt());
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return QDateTime(date, time, Qt::LocalTime);
}

std::optional<ObjectInfo> ObjectInfo::parse(ByteView bytes) {
    PTPReader reader(bytes);
    ObjectInfo info;
    const auto storage = reader.read<std::uint32_t>();
    const auto format = reader.read<std::uint16_t>();
    const auto protection = reader.read<std::uint16_t>();
    const auto size = reader.read<std::uint32_t>();
    const auto thumbFormat = reader.read<std::uint16_t>();
    const auto thumbSize = reader.read<std::uint32_t>();
    const auto thumbWidth = reader.read<std::uint32_t>();
    const auto thumbHeight = reader.read<std::uint32_t>();
    const auto width = reader.read<std::uint32_t>();
    const auto height = reader.read<std::uint32_t>();
    const auto depth = reader.read<std::uint32_t>();
    const auto parent = reader.read<std::uint32_t>();
    const auto associationType = reader.read<std::uint16_t>();
    const auto associationDesc = reader.read<std::uint32_t>();
    const auto sequence = reader.read<std::uint32_t>();
    if (!storage || !format || !protection || !size || !thumbFormat || !thumbSize || !thumbWidth ||
        !thumbHeight || !width || !height || !depth || !parent || !associationType ||
        !associationDesc || !sequence)
        return std::nullopt;
    auto filename = reader.readString();
    if (!filename) return std::nullopt;
    info.storageId = *storage;
    info.format = *format;
    info.protection = *protection;
    info.size = *size;
    info.thumbFormat = *thumbFormat;
    info.thumbSize = *thumbSize;
    info.thumbWidth = *thumbWidth;
    info.thumbHeight = *thumbHeight;
    info.imageWidth = *width;
    info.imageHeight = *height;
    info.imageBitDepth = *depth;
    info.parent = *parent;
    info.associationType = *associationType;
    info.associationDesc = *associationDesc;
    info.sequenceNumber = *sequence;
    info.filename = std::move(*filename);
    if (const auto capture = reader.readString()) info.captureDate = parsePTPDate(*capture);
    if (const auto modified = reader.readString()) info.modificationDate = parsePTPDate(*modified);
    return info;
}

Bytes ObjectInfo::encode() const {
    Bytes out;
    auto string = [&out](const QString& text) {
        if (text.isEmpty()) {
            out.push_back(0);
            return;
        }
        const Bytes encoded = PTP::encodeString(text);
        out.insert(out.end(), encoded.begin(), encoded.end());
    };
    auto date = [](const std::optional<QDateTime>& d) { return d ? formatPTPDate(*d) : QString(); };
    PTP::appendLE(out, storageId);
    PTP::appendLE(out, format);
    PTP::appendLE(out, protection);
    PTP::appendLE(out, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, 0xFFFFFFFF)));
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
    string(filename);
    string(date(captureDate));
    string(date(modificationDate));
    string(QString());
    return out;
}

}  // namespace pexil::camera
