#include "app/geo/GeoSavedRecord.h"

#include "app/geo/GeoJson.h"
#include "app/geo/GeoLink.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <utility>

namespace pexil {

namespace {

// Finds the top-level "receivedAt" without building the document: the record beside it may
// be tens of megabytes. A repeated member counts as its last occurrence.
class ReceivedAtReader {
public:
    using Json = nlohmann::json;

    bool null() { return other(); }
    bool boolean(bool) { return other(); }
    bool number_integer(Json::number_integer_t) { return other(); }
    bool number_unsigned(Json::number_unsigned_t) { return other(); }
    bool number_float(Json::number_float_t, const Json::string_t&) { return other(); }
    bool binary(Json::binary_t&) { return other(); }
    bool string(Json::string_t& text) {
        if (depth_ == 1 && wanted_) value_ = text;
        wanted_ = false;
        return true;
    }
    bool start_object(std::size_t) {
        if (depth_ == 0) rootIsObject_ = true;
        other();
        ++depth_;
        return true;
    }
    bool start_array(std::size_t) {
        other();
        ++depth_;
        return true;
    }
    bool end_object() {
        --depth_;
        return true;
    }
    bool end_array() {
        --depth_;
        return true;
    }
    bool key(Json::string_t& name) {
        if (depth_ == 1) wanted_ = name == "receivedAt";
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

    // The member's text, if the document is an object whose last "receivedAt" is a string.
    std::optional<std::string> value() const {
        if (!rootIsObject_) return std::nullopt;
        return value_;
    }

private:
    // Any value but a string under the name makes the member the wrong type.
    bool other() {
        if (depth_ == 1 && wanted_) value_.reset();
        wanted_ = false;
        return true;
    }

    int depth_ = 0;
    bool rootIsObject_ = false;
    bool wanted_ = false;
    std::optional<std::string> value_;
};

}  // namespace

QByteArray GeoSavedRecord::encode(const GeoSavedRecord& saved) {
    const std::string sender = nlohmann::json(saved.sender.toStdString())
                                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    QByteArray json = QByteArrayLiteral("{\"sender\":");
    json += QByteArray::fromStdString(sender);
    json += QByteArrayLiteral(",\"receivedAt\":\"");
    json += GeoJson::formatTime(saved.receivedAt).toUtf8();
    json += QByteArrayLiteral("\",\"payload\":");
    json += GeoJson::encodePayload(saved.payload);
    json += '}';
    return json;
}

std::optional<GeoSavedRecord> GeoSavedRecord::decode(ByteView json) {
    ReceivedAtReader reader;
    if (!nlohmann::json::sax_parse(json.begin(), json.end(), &reader)) return std::nullopt;
    const auto text = reader.value();
    if (!text) return std::nullopt;
    auto receivedAt = GeoJson::parseTime(QString::fromStdString(*text));
    if (!receivedAt) return std::nullopt;
    // The copy has the envelope's two members, plus "receivedAt", which the envelope reader
    // skips like any member it does not know.
    auto envelope = GeoLink::decodeEnvelope(json);
    if (!envelope) return std::nullopt;
    return GeoSavedRecord{std::move(envelope.value().sender), *receivedAt,
                 std::move(envelope.value().payload)};
}

}  // namespace pexil
