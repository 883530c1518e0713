// A small JSON value: enough to write timeline.json and the `info --json` report, and to read
// them back (tests and tools that check a preview).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace preview {

class Json {
  public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    Json() = default;  // null
    Json(std::nullptr_t) {}
    Json(bool b) : type_(Type::Bool), bool_(b) {}
    Json(int n) : type_(Type::Number), number_(n) {}
    Json(std::int64_t n) : type_(Type::Number), number_(static_cast<double>(n)) {}
    Json(std::uint64_t n) : type_(Type::Number), number_(static_cast<double>(n)) {}
    Json(std::uint32_t n) : type_(Type::Number), number_(n) {}
    Json(double n) : type_(Type::Number), number_(n) {}
    Json(const char* s) : type_(Type::String), string_(s) {}
    Json(std::string s) : type_(Type::String), string_(std::move(s)) {}

    static Json Array() {
        Json j;
        j.type_ = Type::Array;
        return j;
    }
    static Json Object() {
        Json j;
        j.type_ = Type::Object;
        return j;
    }

    Type type() const { return type_; }
    bool IsNull() const { return type_ == Type::Null; }
    bool AsBool() const { return bool_; }
    double AsNumber() const { return number_; }
    const std::string& AsString() const { return string_; }
    const std::vector<Json>& Items() const { return items_; }
    std::size_t Size() const { return type_ == Type::Array ? items_.size() : members_.size(); }

    // Arrays.
    Json& Push(Json value) {
        items_.push_back(std::move(value));
        return items_.back();
    }
    const Json& operator[](std::size_t index) const { return items_.at(index); }
    // Objects keep their keys in insertion order.
    Json& Set(const std::string& key, Json value);
    bool Has(const std::string& key) const;
    const Json& operator[](const std::string& key) const;  // null when absent

    // Compact when indent < 0, else pretty with that many spaces per level.
    std::string Dump(int indent = 2) const;
    // Parses a whole document; false with *error set (position and reason) on failure.
    static bool Parse(const std::string& text, Json* value, std::string* error);

  private:
    void DumpTo(std::string* out, int indent, int depth) const;

    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace preview
