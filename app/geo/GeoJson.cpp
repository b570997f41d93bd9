#include "app/geo/GeoJson.h"

#include "app/geo/GeoPosition.h"

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace pexil::GeoJson {

namespace detail {
// Shared with GeoLink.cpp, which wraps the record in an envelope.
Result<std::pair<QString, GeoPayload>, QString> decodeEnvelope(ByteView json);
}  // namespace detail

namespace {

using Json = nlohmann::json;

int asciiDigits(const QString& text, qsizetype at, qsizetype count) {
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        // Compared as code units: QChar::isDigit() would also take Arabic-Indic and
        // full-width digits, which no date-time form allows.
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool isChar(const QString& text, qsizetype at, char16_t c) {
    return text[at].unicode() == c;
}

QString excerpt(const std::string& text) {
    // Long garbage would drown the message it is quoted in.
    constexpr qsizetype shown = 40;
    const QString value = QString::fromStdString(text);
    return value.size() > shown ? value.left(shown) + QStringLiteral("…") : value;
}

// Reads a record (and, for the geo link, the envelope around it) straight from the parser's
// events, so memory follows the size of the record rather than of the document: a 32 MiB
// body of "[[[[" or "[0,0,0" from any device on the network would otherwise be blown up
// twenty-fold into a document tree before anything could reject it. Unknown members, at
// any depth, are skipped by counting. A repeated member replaces the earlier one, as a
// document tree would.
class RecordReader {
public:
    enum class Root { payload, envelope };

    explicit RecordReader(Root root) : root_(root) {}

    // nlohmann::json SAX interface. Returning false stops the parser.
    bool null() { return scalar(Kind::null); }
    bool boolean(bool) { return scalar(Kind::boolean); }
    bool number_integer(Json::number_integer_t value) { return number(static_cast<double>(value)); }
    bool number_unsigned(Json::number_unsigned_t value) {
        return number(static_cast<double>(value));
    }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return number(value); }
    bool string(Json::string_t& value) {
        string_ = std::move(value);
        return scalar(Kind::string);
    }
    bool binary(Json::binary_t&) { return scalar(Kind::other); }
    bool start_object(std::size_t) { return open(Kind::object); }
    bool start_array(std::size_t) { return open(Kind::array); }
    bool key(Json::string_t& name) {
        if (skip_ == 0) key_ = std::move(name);
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
        if (error_.isEmpty())
            error_ = QStringLiteral("JSON として読めません（%1 バイト目）").arg(position);
        return false;
    }

    const QString& error() const { return error_; }
    GeoPayload& payload() { return payload_; }
    QString& sender() { return sender_; }

private:
    enum class Kind { null, boolean, number, string, object, array, other };
    enum class Frame { envelope, payload, shots, track, point };

    bool number(double value) {
        number_ = value;
        return scalar(Kind::number);
    }

    static QString kindName(Kind kind) {
        switch (kind) {
            case Kind::string:
                return QStringLiteral("文字列");
            case Kind::number:
                return QStringLiteral("数");
            case Kind::object:
                return QStringLiteral("オブジェクト");
            case Kind::array:
                return QStringLiteral("配列");
            default:
                return QStringLiteral("値");
        }
    }

    bool fail(const QString& what) {
        error_ = context() + what;
        return false;
    }
    bool wrongType(Kind wanted) {
        return fail(QStringLiteral("「%1」が%2ではありません")
                        .arg(QString::fromStdString(key_), kindName(wanted)));
    }
    bool missing(const char* name) {
        return fail(QStringLiteral("「%1」がありません").arg(QLatin1String(name)));
    }

    // Says which point a complaint is about; a track may hold thousands.
    QString context() const {
        if (stack_.empty() || stack_.back() != Frame::point) return {};
        if (shotName_) return QStringLiteral("「shots」の「%1」: ").arg(*shotName_);
        return QStringLiteral("「track」の %1 点目: ").arg(payload_.track.size() + 1);
    }

    bool open(Kind kind) {
        if (skip_ > 0) {
            ++skip_;
            return true;
        }
        if (stack_.empty()) {
            if (kind != Kind::object)
                return fail(QStringLiteral("最上位が JSON のオブジェクトではありません"));
            return enter(root_ == Root::envelope ? Frame::envelope : Frame::payload);
        }
        switch (stack_.back()) {
            case Frame::envelope:
                if (key_ == "payload")
                    return kind == Kind::object ? enter(Frame::payload) : wrongType(Kind::object);
                if (key_ == "sender") return wrongType(Kind::string);
                break;
            case Frame::payload:
                if (key_ == "shots")
                    return kind == Kind::object ? enter(Frame::shots) : wrongType(Kind::object);
                if (key_ == "track")
                    return kind == Kind::array ? enter(Frame::track) : wrongType(Kind::array);
                if (key_ == "generated") return wrongType(Kind::string);
                break;
            case Frame::shots:
                if (kind != Kind::object) return wrongType(Kind::object);
                shotName_ = QString::fromStdString(key_);
                return enter(Frame::point);
            case Frame::track:
                if (kind != Kind::object)
                    return fail(QStringLiteral("「track」の %1 点目がオブジェクトではありません")
                                    .arg(payload_.track.size() + 1));
                shotName_.reset();
                return enter(Frame::point);
            case Frame::point:
                if (isPointMember()) return wrongType(key_ == "time" ? Kind::string : Kind::number);
                break;
        }
        skip_ = 1;
        return true;
    }

    bool enter(Frame frame) {
        switch (frame) {
            case Frame::envelope:
                break;
            case Frame::payload:
                payload_ = {};
                payloadSeen_ = true;
                generated_ = shotsSeen_ = trackSeen_ = false;
                break;
            case Frame::shots:
                payload_.shots.clear();
                shotsSeen_ = true;
                break;
            case Frame::track:
                payload_.track.clear();
                trackSeen_ = true;
                break;
            case Frame::point:
                point_ = {};
                time_ = lat_ = lon_ = false;
                break;
        }
        stack_.push_back(frame);
        return true;
    }

    bool close() {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        const Frame frame = stack_.back();
        switch (frame) {
            case Frame::envelope:
                if (!senderSeen_) return missing("sender");
                if (!payloadSeen_) return missing("payload");
                break;
            case Frame::payload:
                if (!generated_) return missing("generated");
                if (!shotsSeen_) return missing("shots");
                if (!trackSeen_) return missing("track");
                break;
            case Frame::shots:
            case Frame::track:
                break;
            case Frame::point:
                if (!time_) return missing("time");
                if (!lat_) return missing("lat");
                if (!lon_) return missing("lon");
                if (shotName_)
                    payload_.shots.insert_or_assign(*shotName_, point_);
                else
                    payload_.track.push_back(point_);
                break;
        }
        stack_.pop_back();
        return true;
    }

    bool isPointMember() const {
        return key_ == "time" || key_ == "lat" || key_ == "lon" || key_ == "alt" ||
               key_ == "accuracy";
    }

    bool scalar(Kind kind) {
        if (skip_ > 0) return true;
        if (stack_.empty())
            return fail(QStringLiteral("最上位が JSON のオブジェクトではありません"));
        switch (stack_.back()) {
            case Frame::envelope:
                if (key_ == "sender") {
                    if (kind != Kind::string) return wrongType(Kind::string);
                    sender_ = QString::fromStdString(string_);
                    senderSeen_ = true;
                } else if (key_ == "payload") {
                    return wrongType(Kind::object);
                }
                return true;
            case Frame::payload:
                if (key_ == "generated") {
                    if (!readTime(kind, payload_.generated)) return false;
                    generated_ = true;
                } else if (key_ == "shots") {
                    return wrongType(Kind::object);
                } else if (key_ == "track") {
                    return wrongType(Kind::array);
                }
                return true;
            case Frame::shots:
                return wrongType(Kind::object);
            case Frame::track:
                return fail(QStringLiteral("「track」の %1 点目がオブジェクトではありません")
                                .arg(payload_.track.size() + 1));
            case Frame::point:
                return pointMember(kind);
        }
        return true;
    }

    bool pointMember(Kind kind) {
        if (key_ == "time") {
            if (!readTime(kind, point_.time)) return false;
            time_ = true;
        } else if (key_ == "lat" || key_ == "lon") {
            if (kind != Kind::number) return wrongType(Kind::number);
            (key_ == "lat" ? point_.lat : point_.lon) = number_;
            (key_ == "lat" ? lat_ : lon_) = true;
        } else if (key_ == "alt" || key_ == "accuracy") {
            auto& field = key_ == "alt" ? point_.alt : point_.accuracy;
            if (kind == Kind::null)
                field.reset();
            else if (kind == Kind::number)
                field = number_;
            else
                return wrongType(Kind::number);
        }
        return true;
    }

    bool readTime(Kind kind, QDateTime& into) {
        if (kind != Kind::string) return wrongType(Kind::string);
        auto time = parseTime(QString::fromStdString(string_));
        if (!time)
            return fail(QStringLiteral("「%1」の日時の形が違います: %2")
                            .arg(QString::fromStdString(key_), excerpt(string_)));
        into = *time;
        return true;
    }

    Root root_;
    std::vector<Frame> stack_;
    int skip_ = 0;  // depth inside a member nobody reads
    std::string key_;
    std::string string_;
    double number_ = 0;
    QString error_;

    QString sender_;
    bool senderSeen_ = false;
    bool payloadSeen_ = false;

    GeoPayload payload_;
    bool generated_ = false;
    bool shotsSeen_ = false;
    bool trackSeen_ = false;

    GeoPoint point_;
    std::optional<QString> shotName_;  // none: the point belongs to the track
    bool time_ = false;
    bool lat_ = false;
    bool lon_ = false;
};

std::optional<QString> readRecord(RecordReader& reader, ByteView json) {
    if (json.empty()) return QStringLiteral("中身が空です");
    if (Json::sax_parse(json.data(), json.data() + json.size(), &reader)) return std::nullopt;
    return reader.error().isEmpty() ? QStringLiteral("JSON として読めません") : reader.error();
}

// Members in one fixed order (time, lat, lon, alt, accuracy), so saved copies read well and
// compare cleanly.
nlohmann::ordered_json toJson(const GeoPoint& point) {
    nlohmann::ordered_json json{
        {"time", formatTime(point.time).toStdString()},
        {"lat", point.lat},
        {"lon", point.lon},
    };
    if (point.alt) json["alt"] = *point.alt;
    if (point.accuracy) json["accuracy"] = *point.accuracy;
    return json;
}

}  // namespace

std::optional<QDateTime> parseTime(const QString& text) {
    // 2024-05-01T12:00:00Z or 2024-05-01T12:00:00+09:00, nothing else: fixed positions make
    // every wrong length, missing part or fraction fail without further rules.
    constexpr qsizetype withZ = 20;
    constexpr qsizetype withOffset = 25;
    const qsizetype size = text.size();
    if (size != withZ && size != withOffset) return std::nullopt;

    const int year = asciiDigits(text, 0, 4);
    const int month = asciiDigits(text, 5, 2);
    const int day = asciiDigits(text, 8, 2);
    const int hour = asciiDigits(text, 11, 2);
    const int minute = asciiDigits(text, 14, 2);
    const int second = asciiDigits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    // RFC 3339 lets "T" and "Z" be written in lower case; taking them costs nothing and
    // cannot be misread.
    if (!isChar(text, 4, u'-') || !isChar(text, 7, u'-') ||
        !(isChar(text, 10, u'T') || isChar(text, 10, u't')) || !isChar(text, 13, u':') ||
        !isChar(text, 16, u':'))
        return std::nullopt;

    int offsetSeconds = 0;
    if (size == withZ) {
        if (!isChar(text, 19, u'Z') && !isChar(text, 19, u'z')) return std::nullopt;
    } else {
        // "-00:00" is UTC with the local offset unknown: the same instant as "Z".
        const int sign = isChar(text, 19, u'+') ? 1 : isChar(text, 19, u'-') ? -1 : 0;
        const int offsetHours = asciiDigits(text, 20, 2);
        const int offsetMinutes = asciiDigits(text, 23, 2);
        if (sign == 0 || !isChar(text, 22, u':') || offsetHours < 0 || offsetHours > 23 ||
            offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = sign * (offsetHours * 3600 + offsetMinutes * 60);
    }

    // QDate and QTime reject month 13, February 29 outside leap years, day 0, hour 24 and
    // year 0. They also reject second 60: a leap second cannot be held by QDateTime, none
    // has been inserted since 2016, and phone clocks smear them, so ":60" is a fault.
    const QDate date(year, month, day);
    const QTime clock(hour, minute, second);
    if (!date.isValid() || !clock.isValid()) return std::nullopt;
    const QDateTime time = QDateTime(date, clock, Qt::UTC).addSecs(-offsetSeconds);
    // An offset can push the instant out of the four-digit years; such a time could not be
    // written back, and a saved copy holding it would no longer read.
    if (time.date().year() < 1 || time.date().year() > 9999) return std::nullopt;
    return time;
}

QString formatTime(const QDateTime& time) {
    // Only a programming error leaves a time unset; the epoch keeps the document readable.
    const QDateTime utc = time.isValid() ? time.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QDate date = utc.date();
    const QTime clock = utc.time();
    return QString::asprintf("%04d-%02d-%02dT%02d:%02d:%02dZ", date.year(), date.month(),
                             date.day(), clock.hour(), clock.minute(), clock.second());
}

Result<GeoPayload, QString> decodePayload(ByteView json) {
    RecordReader reader(RecordReader::Root::payload);
    if (auto error = readRecord(reader, json)) return std::move(*error);
    if (auto fault = positionFault(reader.payload())) return std::move(*fault);
    return std::move(reader.payload());
}

std::optional<QString> positionFault(const GeoPayload& payload) {
    for (const auto& [name, point] : payload.shots)
        if (auto fault = GeoPosition::fault(point))
            return QStringLiteral("「shots」の「%1」: ").arg(name) + *fault;
    for (std::size_t i = 0; i < payload.track.size(); ++i)
        if (auto fault = GeoPosition::fault(payload.track[i]))
            return QStringLiteral("「track」の %1 点目: ").arg(i + 1) + *fault;
    return std::nullopt;
}

QByteArray encodePayload(const GeoPayload& payload) {
    nlohmann::ordered_json shots = nlohmann::ordered_json::object();
    for (const auto& [name, point] : payload.shots) shots[name.toStdString()] = toJson(point);
    nlohmann::ordered_json track = nlohmann::ordered_json::array();
    for (const GeoPoint& point : payload.track) track.push_back(toJson(point));
    const nlohmann::ordered_json json{
        {"generated", formatTime(payload.generated).toStdString()},
        {"shots", std::move(shots)},
        {"track", std::move(track)},
    };
    // QString::toStdString() always gives valid UTF-8, so nothing is replaced in practice;
    // the handler only keeps dump() from throwing.
    return QByteArray::fromStdString(json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

namespace detail {

Result<std::pair<QString, GeoPayload>, QString> decodeEnvelope(ByteView json) {
    RecordReader reader(RecordReader::Root::envelope);
    if (auto error = readRecord(reader, json)) return std::move(*error);
    return std::pair{std::move(reader.sender()), std::move(reader.payload())};
}

}  // namespace detail

}  // namespace pexil::GeoJson
