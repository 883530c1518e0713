// JSON for timeline.json and the `info --json` report: nlohmann's value with its keys kept in
// insertion order, so that the files read top-down in the order a person looks for things.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace preview {

using Json = nlohmann::ordered_json;

// Pretty-printed with `indent` spaces per level (compact when negative), ending in a newline
// when pretty. Text that is not valid UTF-8 (a device path with an unpaired surrogate, a host
// file name in another encoding) is written with U+FFFD in its place, so the document always
// parses.
std::string DumpJson(const Json& value, int indent = 2);

}  // namespace preview
