// Texts from outside the layer (file and folder names, a table's column names,
// errors) as the layer writes them into the names it makes, its JSON and its
// tables: valid UTF-8 without control characters, so that a name in another
// encoding or holding a tab neither stops a JSON writer nor splits a table's
// row. Each byte that is a control character (below 0x20, or 0x7F) or not part
// of valid UTF-8 becomes the four characters \xNN (upper-case hex); all else,
// UTF-8 letters too, stays as it is. "caf\xE9" (Latin-1) gives "caf\\xE9".
#pragma once

#include <string>

#ifdef QUORVEX_HOST_JSON
#include <nlohmann/json.hpp>
#endif

namespace corvantis {

std::string printableText(const std::string& text);

// One cell of a tab-separated table the layer writes: the text printable, "n/a" when empty.
std::string tableCell(const std::string& text);

#ifdef QUORVEX_HOST_JSON
// The JSON's text, indented by two spaces and ending in a newline, every
// string and key in it printable.
std::string printableJsonText(const nlohmann::ordered_json& json);
// The value with every string and key in it printable: what reading back printableJsonText's text gives.
nlohmann::ordered_json printableJson(const nlohmann::ordered_json& json);
#endif

} // namespace corvantis
