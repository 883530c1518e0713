// JSON writing and reading; see json.h.
#include "preview/json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace preview {

Json& Json::Set(const std::string& key, Json value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return member.second;
        }
    }
    members_.emplace_back(key, std::move(value));
    return members_.back().second;
}

bool Json::Has(const std::string& key) const {
    for (const auto& member : members_) {
        if (member.first == key) return true;
    }
    return false;
}

const Json& Json::operator[](const std::string& key) const {
    static const Json kNull;
    for (const auto& member : members_) {
        if (member.first == key) return member.second;
    }
    return kNull;
}

namespace {

void DumpString(const std::string& s, std::string* out) {
    out->push_back('"');
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                *out += "\\\"";
                break;
            case '\\':
                *out += "\\\\";
                break;
            case '\n':
                *out += "\\n";
                break;
            case '\r':
                *out += "\\r";
                break;
            case '\t':
                *out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    *out += buffer;
                } else {
                    out->push_back(static_cast<char>(c));
                }
        }
    }
    out->push_back('"');
}

void Newline(std::string* out, int indent, int depth) {
    if (indent < 0) return;
    out->push_back('\n');
    out->append(static_cast<std::size_t>(indent * depth), ' ');
}

}  // namespace

void Json::DumpTo(std::string* out, int indent, int depth) const {
    switch (type_) {
        case Type::Null:
            *out += "null";
            break;
        case Type::Bool:
            *out += bool_ ? "true" : "false";
            break;
        case Type::Number: {
            char buffer[32];
            if (std::isfinite(number_) && number_ == std::floor(number_) &&
                std::fabs(number_) < 9e15) {
                std::snprintf(buffer, sizeof buffer, "%.0f", number_);
            } else if (std::isfinite(number_)) {
                std::snprintf(buffer, sizeof buffer, "%.10g", number_);
            } else {
                std::snprintf(buffer, sizeof buffer, "null");
            }
            *out += buffer;
            break;
        }
        case Type::String:
            DumpString(string_, out);
            break;
        case Type::Array: {
            out->push_back('[');
            // Arrays of scalars stay on one line; arrays of objects get one line per item.
            bool flat = true;
            for (const Json& item : items_) {
                if (item.type_ == Type::Array || item.type_ == Type::Object) flat = false;
            }
            for (std::size_t i = 0; i < items_.size(); ++i) {
                if (i) out->push_back(',');
                if (!flat)
                    Newline(out, indent, depth + 1);
                else if (i && indent >= 0)
                    out->push_back(' ');
                items_[i].DumpTo(out, flat ? -1 : indent, depth + 1);
            }
            if (!flat && !items_.empty()) Newline(out, indent, depth);
            out->push_back(']');
            break;
        }
        case Type::Object: {
            out->push_back('{');
            // Small objects of scalars (a frame, a rectangle) stay on one line.
            bool flat = members_.size() <= 8;
            for (const auto& m : members_) {
                if (m.second.type_ == Type::Array || m.second.type_ == Type::Object) flat = false;
            }
            for (std::size_t i = 0; i < members_.size(); ++i) {
                if (i) out->push_back(',');
                if (!flat)
                    Newline(out, indent, depth + 1);
                else if (i && indent >= 0)
                    out->push_back(' ');
                DumpString(members_[i].first, out);
                out->push_back(':');
                if (indent >= 0) out->push_back(' ');
                members_[i].second.DumpTo(out, flat ? -1 : indent, depth + 1);
            }
            if (!flat && !members_.empty()) Newline(out, indent, depth);
            out->push_back('}');
            break;
        }
    }
}

std::string Json::Dump(int indent) const {
    std::string out;
    DumpTo(&out, indent, 0);
    if (indent >= 0) out.push_back('\n');
    return out;
}

namespace {

class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool Document(Json* value, std::string* error) {
        bool ok = Value(value, 0);
        Space();
        if (ok && pos_ != text_.size()) ok = Fail("trailing characters");
        if (!ok) *error = "JSON error at offset " + std::to_string(pos_) + ": " + reason_;
        return ok;
    }

  private:
    bool Fail(const char* reason) {
        reason_ = reason;
        return false;
    }
    void Space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\t')) {
            ++pos_;
        }
    }
    bool Literal(const char* word) {
        std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) return Fail("unknown literal");
        pos_ += w.size();
        return true;
    }
    bool String(std::string* out) {
        ++pos_;  // opening quote
        while (pos_ < text_.size() && text_[pos_] != '"') {
            char c = text_[pos_++];
            if (c != '\\') {
                out->push_back(c);
                continue;
            }
            if (pos_ >= text_.size()) return Fail("unterminated string");
            char e = text_[pos_++];
            switch (e) {
                case 'n':
                    out->push_back('\n');
                    break;
                case 'r':
                    out->push_back('\r');
                    break;
                case 't':
                    out->push_back('\t');
                    break;
                case 'b':
                    out->push_back('\b');
                    break;
                case 'f':
                    out->push_back('\f');
                    break;
                case 'u': {
                    if (pos_ + 4 > text_.size()) return Fail("bad escape");
                    unsigned code = static_cast<unsigned>(
                        std::strtoul(text_.substr(pos_, 4).c_str(), nullptr, 16));
                    pos_ += 4;
                    if (code < 0x80) {
                        out->push_back(static_cast<char>(code));
                    } else if (code < 0x800) {
                        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
                        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
                    } else {
                        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
                        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
                        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
                    }
                    break;
                }
                default:
                    out->push_back(e);
            }
        }
        if (pos_ >= text_.size()) return Fail("unterminated string");
        ++pos_;
        return true;
    }
    bool Value(Json* value, int depth) {
        if (depth > 64) return Fail("nested too deeply");
        Space();
        if (pos_ >= text_.size()) return Fail("unexpected end");
        char c = text_[pos_];
        if (c == 'n') {
            *value = Json();
            return Literal("null");
        }
        if (c == 't') {
            *value = Json(true);
            return Literal("true");
        }
        if (c == 'f') {
            *value = Json(false);
            return Literal("false");
        }
        if (c == '"') {
            std::string s;
            if (!String(&s)) return false;
            *value = Json(std::move(s));
            return true;
        }
        if (c == '[') {
            ++pos_;
            *value = Json::Array();
            Space();
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            for (;;) {
                Json item;
                if (!Value(&item, depth + 1)) return false;
                value->Push(std::move(item));
                Space();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == ']') {
                    ++pos_;
                    return true;
                }
                return Fail("expected , or ]");
            }
        }
        if (c == '{') {
            ++pos_;
            *value = Json::Object();
            Space();
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            for (;;) {
                Space();
                if (pos_ >= text_.size() || text_[pos_] != '"') return Fail("expected a key");
                std::string key;
                if (!String(&key)) return false;
                Space();
                if (pos_ >= text_.size() || text_[pos_] != ':') return Fail("expected :");
                ++pos_;
                Json member;
                if (!Value(&member, depth + 1)) return false;
                value->Set(key, std::move(member));
                Space();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == '}') {
                    ++pos_;
                    return true;
                }
                return Fail("expected , or }");
            }
        }
        const char* start = text_.c_str() + pos_;
        char* end = nullptr;
        double number = std::strtod(start, &end);
        if (end == start) return Fail("unexpected character");
        pos_ += static_cast<std::size_t>(end - start);
        *value = Json(number);
        return true;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
    const char* reason_ = "";
};

}  // namespace

bool Json::Parse(const std::string& text, Json* value, std::string* error) {
    return Parser(text).Document(value, error);
}

}  // namespace preview
