#include "app/geo/GpxReader.h"

#include "app/geo/GeoJson.h"
#include "app/geo/GeoPosition.h"

#include <QByteArray>
#include <QXmlStreamReader>

#include <cmath>
#include <optional>

namespace pexil::Gpx {

namespace {

// A day of one-second points is about 8 MB of GPX; anything past this is not a track a
// person recorded, and reading it would only exhaust memory.
constexpr qsizetype largestFile = 256 * 1024 * 1024;

const QLatin1String gpx10("http://www.topografix.com/GPX/1/0");
const QLatin1String gpx11("http://www.topografix.com/GPX/1/1");

std::optional<double> decimal(QStringView text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    // "nan" and "inf" parse, but no position is made of them, and a saved copy of the
    // record could not hold them.
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

// GPX times are xsd:dateTime in UTC: loggers commonly add milliseconds and some leave out
// the "Z". Both are taken here (the fraction dropped, rounding down to the second) and the
// rest goes through the record's own strict form.
std::optional<QDateTime> gpxTime(QString text) {
    text = text.trimmed();
    constexpr qsizetype secondsEnd = 19;  // 2024-05-01T12:00:00
    if (text.size() > secondsEnd && text[secondsEnd] == u'.') {
        qsizetype end = secondsEnd + 1;
        while (end < text.size() && text[end].unicode() >= u'0' && text[end].unicode() <= u'9')
            ++end;
        if (end == secondsEnd + 1) return std::nullopt;
        text.remove(secondsEnd, end - secondsEnd);
    }
    if (text.size() == secondsEnd) text += u'Z';
    return GeoJson::parseTime(text);
}

QString shortened(const QString& text) {
    constexpr qsizetype shown = 40;
    const QString trimmed = text.trimmed();
    return trimmed.size() > shown ? trimmed.left(shown) + QStringLiteral("…") : trimmed;
}

class Reader {
public:
    explicit Reader(const QByteArray& data) : xml_(data) {}

    Result<GeoPayload, QString> read() {
        if (!readDocument()) {
            if (error_.isEmpty()) error_ = xmlError();
            return error_;
        }
        if (payload_.track.empty()) return QStringLiteral("GPX に位置がありません");
        payload_.generated = fileTime_ ? *fileTime_ : payload_.track.front().time;
        return std::move(payload_);
    }

private:
    QString xmlError() const {
        return QStringLiteral("GPX を XML として読めません（%1 行目）").arg(xml_.lineNumber());
    }

    // Elements of GPX itself; extensions from other namespaces may reuse names like "time".
    bool is(QLatin1String name) const {
        return xml_.namespaceUri() == namespace_ && xml_.name() == name;
    }

    bool readDocument() {
        if (!xml_.readNextStartElement()) return false;
        const QStringView uri = xml_.namespaceUri();
        if (xml_.name() != QLatin1String("gpx") || !(uri.isEmpty() || uri == gpx10 || uri == gpx11))
            return fail(QStringLiteral("GPX のファイルではありません"));
        namespace_ = uri.toString();
        while (xml_.readNextStartElement()) {
            if (is(QLatin1String("metadata"))) {
                if (!readMetadata()) return false;
            } else if (is(QLatin1String("time"))) {  // GPX 1.0 keeps the file's time here
                readFileTime();
            } else if (is(QLatin1String("trk"))) {
                if (!readTrack()) return false;
            } else {
                xml_.skipCurrentElement();
            }
        }
        // Reads to the end, so that a truncated or corrupt file is never taken as whole.
        while (!xml_.atEnd()) xml_.readNext();
        return !xml_.hasError();
    }

    bool readMetadata() {
        while (xml_.readNextStartElement()) {
            if (is(QLatin1String("time")))
                readFileTime();
            else
                xml_.skipCurrentElement();
        }
        return !xml_.hasError();
    }

    // The file's own time only names the record; an unreadable one falls back to the first
    // point's time rather than losing a good track.
    void readFileTime() {
        const auto time = gpxTime(xml_.readElementText(QXmlStreamReader::SkipChildElements));
        if (time) fileTime_ = time;
    }

    bool readTrack() {
        while (xml_.readNextStartElement()) {
            if (!is(QLatin1String("trkseg"))) {
                xml_.skipCurrentElement();
                continue;
            }
            while (xml_.readNextStartElement()) {
                if (!is(QLatin1String("trkpt"))) {
                    xml_.skipCurrentElement();
                    continue;
                }
                if (!readPoint()) return false;
            }
        }
        return !xml_.hasError();
    }

    bool readPoint() {
        const auto number = payload_.track.size() + 1;
        const QXmlStreamAttributes attributes = xml_.attributes();
        const auto lat = decimal(attributes.value(QLatin1String("lat")));
        const auto lon = decimal(attributes.value(QLatin1String("lon")));
        if (!lat || !lon)
            return fail(QStringLiteral("GPX の %1 点目の緯度経度が読めません").arg(number));
        GeoPoint point;
        point.lat = *lat;
        point.lon = *lon;
        bool timed = false;
        while (xml_.readNextStartElement()) {
            if (is(QLatin1String("time"))) {
                const QString text = xml_.readElementText(QXmlStreamReader::SkipChildElements);
                const auto time = gpxTime(text);
                if (!time)
                    return fail(QStringLiteral("GPX の %1 点目の時刻の形が違います: %2")
                                    .arg(number)
                                    .arg(shortened(text)));
                point.time = *time;
                timed = true;
            } else if (is(QLatin1String("ele"))) {
                const QString text = xml_.readElementText(QXmlStreamReader::SkipChildElements);
                point.alt = decimal(text);
                if (!point.alt)
                    return fail(QStringLiteral("GPX の %1 点目の標高が読めません: %2")
                                    .arg(number)
                                    .arg(shortened(text)));
            } else {
                xml_.skipCurrentElement();
            }
        }
        if (xml_.hasError()) return false;
        if (!timed) return fail(QStringLiteral("GPX の %1 点目に時刻がありません").arg(number));
        // Refused, not skipped, as an unreadable number is: no logger writes latitude 91, so
        // the file is damaged or made up, and the user is better told so than handed a track
        // with holes nobody mentioned.
        if (const auto fault = GeoPosition::fault(point))
            return fail(QStringLiteral("GPX の %1 点目: ").arg(number) + *fault);
        payload_.track.push_back(point);
        return true;
    }

    bool fail(const QString& what) {
        error_ = what;
        return false;
    }

    QXmlStreamReader xml_;
    QString namespace_;
    GeoPayload payload_;
    std::optional<QDateTime> fileTime_;
    QString error_;
};

}  // namespace

Result<GeoPayload, QString> read(ByteView xml) {
    if (xml.empty()) return QStringLiteral("GPX に位置がありません");
    if (xml.size() > static_cast<std::size_t>(largestFile))
        return QStringLiteral("GPX が大きすぎます（%1 MB を超えています）")
            .arg(largestFile / (1024 * 1024));
    // The bytes stay the caller's and outlive the reader: no copy of a large file is made.
    const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(xml.data()),
                                                    static_cast<qsizetype>(xml.size()));
    return Reader(data).read();
}

}  // namespace pexil::Gpx
