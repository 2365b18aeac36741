#include "host/research/PrintableText.h"

#include <cstdint>

namespace corvantis {

namespace {

// The length of the well-formed UTF-8 sequence at text[at] (not overlong, no
// surrogate, at most U+10FFFF), or 0 when the byte there does not start one.
std::size_t sequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
    }
    return length;
}

void appendEscaped(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

} // namespace

std::string printableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = sequenceLength(text, at);
        if (length == 0 || byte < 0x20 || byte == 0x7F) {
            appendEscaped(out, byte);
            ++at;
            continue;
        }
        out.append(text, at, length);
        at += length;
    }
    return out;
}

std::string tableCell(const std::string& text) { return text.empty() ? "n/a" : printableText(text); }

#ifdef QUORVEX_HOST_JSON

nlohmann::ordered_json printableJson(const nlohmann::ordered_json& json) {
    using Json = nlohmann::ordered_json;
    if (json.is_string()) return printableText(json.get<std::string>());
    if (json.is_array()) {
        Json array = Json::array();
        for (const Json& element : json) array.push_back(printableJson(element));
        return array;
    }
    if (json.is_object()) {
        Json object = Json::object();
        for (const auto& [key, value] : json.items()) object[printableText(key)] = printableJson(value);
        return object;
    }
    return json;
}

std::string printableJsonText(const nlohmann::ordered_json& json) { return printableJson(json).dump(2) + "\n"; }

#endif

} // namespace corvantis
