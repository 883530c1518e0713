// JSON writing; see json.h.
#include "preview/json.h"

namespace preview {

std::string DumpJson(const Json& value, int indent) {
    std::string text = value.dump(indent, ' ', false, Json::error_handler_t::replace);
    if (indent >= 0) text.push_back('\n');
    return text;
}

}  // namespace preview
