// Parser of .reg text files; see reg_file.h.
#include "platform/sim/reg_file.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/sim/internal.h"

namespace plat::sim::detail {

namespace {

constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegMultiSz = 7;

// Turns the file's bytes into UTF-16 text according to its byte-order mark, or its look when
// it has none.
bool DecodeText(std::string_view bytes, std::u16string* text, std::string* problem) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    auto utf16 = [&](std::size_t start, bool littleEndian) {
        if ((bytes.size() - start) % 2 != 0) {
            *problem = "the file ends in the middle of a UTF-16 character";
            return false;
        }
        text->clear();
        for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
            const unsigned lo = littleEndian ? byte(i) : byte(i + 1);
            const unsigned hi = littleEndian ? byte(i + 1) : byte(i);
            text->push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return true;
    };
    if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) return utf16(2, true);
    if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return utf16(2, false);
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        if (FromUtf8(bytes.substr(3), text)) return true;
        *problem = "the file is marked as UTF-8 but is not valid UTF-8";
        return false;
    }
    // UTF-16LE without a mark: the header's first letter followed by a zero byte.
    if (bytes.size() >= 2 && byte(0) != 0 && byte(1) == 0) return utf16(0, true);
    if (FromUtf8(bytes, text)) return true;
    // Older editors write the system's 8-bit code page; Latin-1 is the closest reading.
    text->clear();
    for (char c : bytes) text->push_back(static_cast<unsigned char>(c));
    return true;
}

std::vector<std::u16string> SplitLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    std::u16string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.push_back(line);
            line.clear();
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else {
            line.push_back(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && EqualNoCase(s.substr(0, prefix.size()), prefix);
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::string Quote(std::u16string_view s) {
    return "\"" + ToUtf8(s) + "\"";
}

void AppendUtf16Le(std::u16string_view s, std::vector<std::uint8_t>* out) {
    for (char16_t c : s) {
        out->push_back(static_cast<std::uint8_t>(c & 0xFF));
        out->push_back(static_cast<std::uint8_t>(c >> 8));
    }
}

class Parser {
  public:
    Parser(const std::string& name, std::vector<RegOperation>* ops, std::string* error)
        : name_(name), ops_(ops), error_(error) {}

    bool Run(std::string_view bytes) {
        std::u16string text;
        std::string problem;
        if (!DecodeText(bytes, &text, &problem)) return Fail(1, problem);
        lines_ = SplitLines(text);
        const std::u16string_view header = lines_.empty() ? u"" : Trim(lines_[0]);
        if (header == u"Windows Registry Editor Version 5.00") {
            unicode_ = true;
        } else if (header == u"REGEDIT4") {
            unicode_ = false;
        } else {
            return Fail(1,
                        "not a registry file: the first line must be \"Windows Registry Editor "
                        "Version 5.00\" or \"REGEDIT4\"");
        }
        for (line_ = 1; line_ < lines_.size(); ++line_) {
            const std::u16string_view line = Trim(lines_[line_]);
            if (line.empty() || line[0] == u';') continue;
            const bool ok = line[0] == u'[' ? KeyLine(line)
                            : (line[0] == u'"' || line[0] == u'@')
                                ? ValueLine(line)
                                : Fail(line_ + 1,
                                       "expected a [key] line, a \"name\"=value line, a ';' "
                                       "comment or an empty line");
            if (!ok) return false;
        }
        return true;
    }

  private:
    bool Fail(std::size_t lineNumber, const std::string& what) {
        if (error_) *error_ = name_ + ":" + std::to_string(lineNumber) + ": " + what;
        return false;
    }
    bool Fail(const std::string& what) { return Fail(line_ + 1, what); }

    bool KeyLine(std::u16string_view line) {
        if (line.back() != u']') return Fail("a key line must end with ']'");
        std::u16string_view inner = line.substr(1, line.size() - 2);
        const bool remove = !inner.empty() && inner[0] == u'-';
        if (remove) inner.remove_prefix(1);
        const std::size_t slash = inner.find(u'\\');
        const std::u16string_view rootName = inner.substr(0, slash);
        HKEY root;
        if (EqualNoCase(rootName, u"HKEY_LOCAL_MACHINE") || EqualNoCase(rootName, u"HKLM")) {
            root = HKEY_ROOT_LOCAL_MACHINE;
        } else if (EqualNoCase(rootName, u"HKEY_CURRENT_USER") || EqualNoCase(rootName, u"HKCU")) {
            root = HKEY_ROOT_CURRENT_USER;
        } else {
            return Fail("unknown root key " + Quote(rootName) +
                        " (the device has HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER)");
        }
        std::u16string path;
        if (slash != std::u16string_view::npos) {
            std::u16string_view rest = inner.substr(slash + 1);
            if (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
            for (std::size_t start = 0; !rest.empty();) {
                const std::size_t end = std::min(rest.find(u'\\', start), rest.size());
                if (end == start) return Fail("empty key name in " + Quote(inner));
                if (!path.empty()) path.push_back(u'\\');
                path.append(rest.substr(start, end - start));
                if (end == rest.size()) break;
                start = end + 1;
            }
        }
        if (remove && path.empty()) return Fail("a root key cannot be deleted");
        RegOperation op{remove ? RegOperation::Kind::DeleteKey : RegOperation::Kind::CreateKey,
                        root,
                        path,
                        {},
                        0,
                        {}};
        ops_->push_back(op);
        haveKey_ = !remove;
        root_ = root;
        key_ = path;
        return true;
    }

    // Reads a quoted text starting at s[*pos] == '"'; leaves *pos after the closing quote.
    bool QuotedText(std::u16string_view s, std::size_t* pos, std::u16string* out,
                    const char* what) {
        out->clear();
        std::size_t i = *pos + 1;
        for (; i < s.size(); ++i) {
            const char16_t c = s[i];
            if (c == u'"') {
                *pos = i + 1;
                return true;
            }
            if (c == u'\\') {
                if (i + 1 >= s.size()) break;
                const char16_t next = s[++i];
                if (next != u'\\' && next != u'"') {
                    return Fail(std::string("unknown escape \\") + ToUtf8(std::u16string(1, next)) +
                                " in " + what + " (write \\\\ for a backslash, \\\" for a quote)");
                }
                out->push_back(next);
            } else {
                out->push_back(c);
            }
        }
        return Fail(std::string(what) + " without its closing quote");
    }

    static bool OnlySpaceAfter(std::u16string_view s, std::size_t pos) {
        return Trim(s.substr(std::min(pos, s.size()))).empty();
    }

    bool ValueLine(std::u16string_view line) {
        const std::size_t startLine = line_;
        std::u16string name;
        std::size_t pos = 0;
        if (line[0] == u'@') {
            pos = 1;
        } else if (!QuotedText(line, &pos, &name, "a value name")) {
            return false;
        }
        while (pos < line.size() && IsSpace(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != u'=')
            return Fail("expected '=' after the value name");
        ++pos;
        while (pos < line.size() && IsSpace(line[pos])) ++pos;
        if (!haveKey_) return Fail("a value line must follow a [key] line");
        const std::u16string_view data = line.substr(pos);

        RegOperation op{RegOperation::Kind::SetValue, root_, key_, name, REG_SZ, {}};
        if (!data.empty() && data[0] == u'"') {
            std::u16string text;
            std::size_t end = 0;
            if (!QuotedText(data, &end, &text, "a text value")) return false;
            if (!OnlySpaceAfter(data, end)) return Fail("unexpected text after the closing quote");
            AppendUtf16Le(text, &op.data);
            op.data.push_back(0);
            op.data.push_back(0);
        } else if (Trim(data) == u"-") {
            op.kind = RegOperation::Kind::DeleteValue;
        } else if (StartsWithNoCase(data, u"dword:")) {
            const std::u16string_view digits = Trim(data.substr(6));
            std::uint32_t value = 0;
            if (digits.empty() || digits.size() > 8) {
                return Fail("a dword value needs 1 to 8 hexadecimal digits");
            }
            for (char16_t c : digits) {
                const int d = HexDigit(c);
                if (d < 0) return Fail("a dword value needs 1 to 8 hexadecimal digits");
                value = (value << 4) | static_cast<std::uint32_t>(d);
            }
            op.type = REG_DWORD;
            for (int k = 0; k < 4; ++k)
                op.data.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
        } else if (StartsWithNoCase(data, u"hex")) {
            if (!HexValue(data, startLine, &op)) return false;
        } else {
            return Fail("a value must be \"text\", dword:, hex:, hex(N): or -");
        }
        ops_->push_back(std::move(op));
        return true;
    }

    // hex:aa,bb,... or hex(N):aa,bb,... possibly continued on following lines that the
    // previous one ends with a backslash.
    bool HexValue(std::u16string_view data, std::size_t startLine, RegOperation* op) {
        std::size_t pos = 3;
        std::uint32_t type = kRegBinary;
        if (pos < data.size() && data[pos] == u'(') {
            const std::size_t close = data.find(u')', pos);
            if (close == std::u16string_view::npos || close == pos + 1 || close > pos + 9) {
                return Fail("hex(N): needs a hexadecimal type number N");
            }
            type = 0;
            for (std::size_t i = pos + 1; i < close; ++i) {
                const int d = HexDigit(data[i]);
                if (d < 0) return Fail("hex(N): needs a hexadecimal type number N");
                type = (type << 4) | static_cast<std::uint32_t>(d);
            }
            pos = close + 1;
        }
        if (pos >= data.size() || data[pos] != u':') return Fail("expected ':' after hex");
        std::u16string list(Trim(data.substr(pos + 1)));
        while (!list.empty() && list.back() == u'\\') {
            list.pop_back();
            if (line_ + 1 >= lines_.size()) {
                return Fail("the hex value of line " + std::to_string(startLine + 1) +
                            " continues past the end of the file");
            }
            ++line_;
            list += Trim(lines_[line_]);
        }
        std::vector<std::uint8_t> bytes;
        std::size_t i = 0;
        while (i < list.size()) {
            std::size_t end = list.find(u',', i);
            if (end == std::u16string::npos) end = list.size();
            const std::u16string_view token = Trim(std::u16string_view(list).substr(i, end - i));
            const bool last = end == list.size();
            if (token.empty()) {
                if (last) break;  // a trailing comma
                return Fail("empty byte in a hex value");
            }
            const int hi = HexDigit(token[0]);
            const int lo = token.size() == 2 ? HexDigit(token[1]) : 0;
            if (token.size() > 2 || hi < 0 || lo < 0) {
                return Fail("bad byte " + Quote(token) + " in a hex value");
            }
            bytes.push_back(static_cast<std::uint8_t>(token.size() == 2 ? hi * 16 + lo : hi));
            i = end + 1;
        }
        // Older files store texts of these types as 8-bit characters; the registry keeps
        // UTF-16.
        if (!unicode_ && (type == REG_SZ || type == kRegExpandSz || type == kRegMultiSz)) {
            std::vector<std::uint8_t> wide;
            for (std::uint8_t b : bytes) {
                wide.push_back(b);
                wide.push_back(0);
            }
            bytes.swap(wide);
        }
        op->type = type;
        op->data = std::move(bytes);
        return true;
    }

    const std::string& name_;
    std::vector<RegOperation>* ops_;
    std::string* error_;
    std::vector<std::u16string> lines_;
    std::size_t line_ = 0;  // index of the line being read
    bool unicode_ = true;
    bool haveKey_ = false;
    HKEY root_ = nullptr;
    std::u16string key_;
};

}  // namespace

bool ParseRegFile(std::string_view bytes, const std::string& name,
                  std::vector<RegOperation>* operations, std::string* error) {
    std::vector<RegOperation> ops;
    Parser parser(name, &ops, error);
    if (!parser.Run(bytes)) return false;
    operations->swap(ops);
    return true;
}

}  // namespace plat::sim::detail
