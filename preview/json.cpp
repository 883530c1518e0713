// JSON writing and reading; see json.h.
#include "preview/json.h"

namespace preview {

std::string DumpJson(const Json& value, int indent) {
    std::string text = value.dump(indent, ' ', false, Json::error_handler_t::replace);
    if (indent >= 0) text.push_back('\n');
    return text;
}

bool ParseJson(const std::string& text, Json* value, std::string* error) {
    try {
        *value = Json::parse(text);
        return true;
    } catch (const Json::exception& e) {
        *error = e.what();
        return false;
    }
}

}  // namespace preview
