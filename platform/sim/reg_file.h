// Reading of .reg text files, the format in which the Windows registry editor exports keys
// and values, for loading the simulated device's registry.
//
// Accepted: the first line "Windows Registry Editor Version 5.00" or "REGEDIT4"; UTF-16LE
// (with or without byte-order mark, as the editor writes it), UTF-16BE with its mark, UTF-8
// (with or without mark) or, failing that, Latin-1 bytes; CRLF, LF or CR line ends; blank
// lines and ';' comments; [ROOT\path] and [-ROOT\path] (delete the key and everything below it)
// with the roots HKEY_LOCAL_MACHINE / HKLM and HKEY_CURRENT_USER / HKCU; "Name"="text" with the
// escapes \\ and \"; @= for the key's default value; "Name"=dword:1 to 8 hex digits;
// "Name"=hex:.. and "Name"=hex(N):.. byte lists, continued over lines ending in a backslash;
// "Name"=- (delete the value).
//
// The whole file is parsed before anything is applied, so that a malformed file changes
// nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace plat::sim::detail {

struct RegOperation {
    enum class Kind {
        CreateKey,    // [KEY]: the key and its ancestors come into being
        DeleteKey,    // [-KEY]: the key and everything below it go
        SetValue,     // "Name"=...
        DeleteValue,  // "Name"=-
    };
    Kind kind;
    HKEY root;            // HKEY_ROOT_LOCAL_MACHINE or HKEY_ROOT_CURRENT_USER
    std::u16string key;   // path below the root, components joined by single backslashes
    std::u16string name;  // value name; empty for the default value
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // the value's bytes as the registry stores them
};

// Parses the bytes of a .reg file called `name`. On success fills *operations in file order.
// On failure returns false and sets *error to one line "NAME:LINE: what is wrong".
bool ParseRegFile(std::string_view bytes, const std::string& name,
                  std::vector<RegOperation>* operations, std::string* error);

}  // namespace plat::sim::detail
