// The simulated device's registry: keys with typed values under the local-machine and
// current-user roots, open-key handles, and loading from .reg files. See platform/registry.h
// and platform/sim/device.h.
#include "platform/registry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/sim/device.h"
#include "platform/sim/internal.h"
#include "platform/sim/reg_file.h"

namespace plat {

namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidData = 13;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorKeyDeleted = 1018;

// The result code of RegistryGetDWORD: a failed system call's code in the negative form that
// callers test with "< 0".
long FailureResult(long win32Error) {
    return static_cast<long>(static_cast<std::int32_t>(0x80070000u | (win32Error & 0xFFFF)));
}

struct Value {
    std::u16string name;  // as written, for nothing but debugging
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

struct Key {
    std::map<std::u16string, Value> values;  // by case-folded name
};

// Keys are stored flat by root and case-folded path ("" is the root itself, which always
// exists).
using KeyId = std::pair<std::uintptr_t, std::u16string>;

struct OpenKey {
    std::uintptr_t root;
    std::u16string path;  // case-folded
};

struct Registry {
    std::mutex mutex;
    std::map<KeyId, Key> keys;
    std::map<std::uintptr_t, OpenKey> handles;
    // Handle values are never reused, so a closed handle stays invalid even after Reset().
    std::uintptr_t nextHandle = 0x10000;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool IsRoot(HKEY key) {
    return key == HKEY_ROOT_LOCAL_MACHINE || key == HKEY_ROOT_CURRENT_USER;
}

// Case-folded path with empty components dropped.
std::u16string NormalPath(std::u16string_view path) {
    std::u16string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) {
            if (!out.empty()) out.push_back(u'\\');
            out += sim::detail::FoldedCopy(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

std::u16string Join(const std::u16string& base, const std::u16string& sub) {
    if (base.empty()) return sub;
    if (sub.empty()) return base;
    return base + u'\\' + sub;
}

// True when some stored key lies strictly below `id`.
bool HasKeyBelow(Registry& r, const KeyId& id) {
    const std::u16string prefix = id.second + u'\\';
    const auto it = r.keys.lower_bound({id.first, prefix});
    return it != r.keys.end() && it->first.first == id.first &&
           it->first.second.compare(0, prefix.size(), prefix) == 0;
}

// A key exists when it was stored or when a key below it was: ancestors are implied, not
// stored, so that creating a key costs its path once rather than once per ancestor (a path of
// depth d would otherwise store d copies of growing prefixes, quadratic in d).
bool KeyExists(Registry& r, const KeyId& id) {
    return id.second.empty() || r.keys.count(id) != 0 || HasKeyBelow(r, id);
}

// Where a key handle points; false for an unknown or closed handle.
bool Resolve(Registry& r, HKEY key, OpenKey* out) {
    if (IsRoot(key)) {
        *out = OpenKey{reinterpret_cast<std::uintptr_t>(key), {}};
        return true;
    }
    const auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(key));
    if (it == r.handles.end()) return false;
    *out = it->second;
    return true;
}

// Creates the key; its ancestors exist through it (KeyExists).
Key& CreateKey(Registry& r, std::uintptr_t root, const std::u16string& path) {
    return r.keys[{root, path}];
}

void DeleteKeyTree(Registry& r, std::uintptr_t root, const std::u16string& path) {
    if (path.empty() || !KeyExists(r, {root, path})) return;
    r.keys.erase({root, path});
    // Keys below sort together right after path + '\\'.
    const std::u16string prefix = path + u'\\';
    auto it = r.keys.lower_bound({root, prefix});
    while (it != r.keys.end() && it->first.first == root &&
           it->first.second.compare(0, prefix.size(), prefix) == 0) {
        it = r.keys.erase(it);
    }
    // The parent stays, as it would had it been created on its own.
    const std::size_t slash = path.rfind(u'\\');
    if (slash != std::u16string::npos) r.keys[{root, path.substr(0, slash)}];
}

void SetValue(HKEY root, const std::u16string& key, const std::u16string& name, std::uint32_t type,
              std::vector<std::uint8_t> data) {
    if (!IsRoot(root)) return;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    Key& k = CreateKey(r, reinterpret_cast<std::uintptr_t>(root), NormalPath(key));
    k.values[sim::detail::FoldedCopy(name)] = Value{name, type, std::move(data)};
}

// Looks up a value; 0 or the failure code.
long FindValue(Registry& r, const OpenKey& at, const char16_t* valueName, const Value** out) {
    if (!KeyExists(r, {at.root, at.path})) return kErrorKeyDeleted;
    const auto key = r.keys.find({at.root, at.path});
    if (key == r.keys.end()) return ERROR_FILE_NOT_FOUND;  // the root, without values
    const auto value =
        key->second.values.find(sim::detail::FoldedCopy(valueName ? valueName : u""));
    if (value == key->second.values.end()) return ERROR_FILE_NOT_FOUND;
    *out = &value->second;
    return ERROR_SUCCESS;
}

}  // namespace

long RegOpenKeyEx(HKEY key, const char16_t* subKey, std::uint32_t /*options*/,
                  std::uint32_t /*access*/, HKEY* result) {
    if (result == nullptr) return kErrorInvalidParameter;
    *result = nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    OpenKey base;
    if (!Resolve(r, key, &base)) return kErrorInvalidHandle;
    OpenKey opened{base.root, Join(base.path, NormalPath(subKey ? subKey : u""))};
    if (!KeyExists(r, {opened.root, opened.path})) return ERROR_FILE_NOT_FOUND;
    const std::uintptr_t handle = r.nextHandle;
    r.nextHandle += 4;
    r.handles.emplace(handle, std::move(opened));
    *result = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

long RegCloseKey(HKEY key) {
    if (IsRoot(key)) return ERROR_SUCCESS;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.erase(reinterpret_cast<std::uintptr_t>(key)) ? ERROR_SUCCESS
                                                                  : kErrorInvalidHandle;
}

long RegQueryValueEx(HKEY key, const char16_t* valueName, std::uint32_t* /*reserved*/,
                     std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    OpenKey at;
    if (!Resolve(r, key, &at)) return kErrorInvalidHandle;
    const Value* value = nullptr;
    if (const long rc = FindValue(r, at, valueName, &value); rc != ERROR_SUCCESS) return rc;
    if (type) *type = value->type;
    const auto needed = static_cast<std::uint32_t>(value->data.size());
    if (data == nullptr) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::copy(value->data.begin(), value->data.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
}

long RegistryGetDWORD(HKEY root, const char16_t* subKey, const char16_t* valueName,
                      std::uint32_t* value) {
    if (value == nullptr) return FailureResult(kErrorInvalidParameter);
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    OpenKey base;
    if (!Resolve(r, root, &base)) return FailureResult(kErrorInvalidHandle);
    const OpenKey at{base.root, Join(base.path, NormalPath(subKey ? subKey : u""))};
    const Value* found = nullptr;
    if (const long rc = FindValue(r, at, valueName, &found); rc != ERROR_SUCCESS) {
        return FailureResult(rc == kErrorKeyDeleted ? ERROR_FILE_NOT_FOUND : rc);
    }
    if (found->type != REG_DWORD || found->data.size() != 4) {
        return FailureResult(kErrorInvalidData);
    }
    *value = static_cast<std::uint32_t>(found->data[0]) |
             static_cast<std::uint32_t>(found->data[1]) << 8 |
             static_cast<std::uint32_t>(found->data[2]) << 16 |
             static_cast<std::uint32_t>(found->data[3]) << 24;
    return 0;
}

namespace sim {

void detail::ResetRegistry() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.keys.clear();
    r.handles.clear();
}

bool LoadRegistryText(const std::string& text, const std::string& name, std::string* error) {
    std::vector<detail::RegOperation> ops;
    if (!detail::ParseRegFile(text, name, &ops, error)) return false;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (detail::RegOperation& op : ops) {
        const auto root = reinterpret_cast<std::uintptr_t>(op.root);
        const std::u16string path = NormalPath(op.key);
        switch (op.kind) {
            case detail::RegOperation::Kind::CreateKey:
                CreateKey(r, root, path);
                break;
            case detail::RegOperation::Kind::DeleteKey:
                DeleteKeyTree(r, root, path);
                break;
            case detail::RegOperation::Kind::SetValue:
                CreateKey(r, root, path).values[detail::FoldedCopy(op.name)] =
                    Value{op.name, op.type, std::move(op.data)};
                break;
            case detail::RegOperation::Kind::DeleteValue:
                CreateKey(r, root, path).values.erase(detail::FoldedCopy(op.name));
                break;
        }
    }
    return true;
}

bool LoadRegistryFile(const std::string& path, std::string* error) {
    std::error_code ec;
    std::ifstream in;
    if (std::filesystem::is_regular_file(path, ec)) in.open(path, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    return LoadRegistryText(bytes.str(), path, error);
}

void SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name,
                       const std::u16string& value) {
    std::vector<std::uint8_t> data;
    for (char16_t c : value) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    SetValue(root, key, name, REG_SZ, std::move(data));
}

void SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name,
                      std::uint32_t value) {
    std::vector<std::uint8_t> data;
    for (int k = 0; k < 4; ++k) data.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
    SetValue(root, key, name, REG_DWORD, std::move(data));
}

}  // namespace sim

}  // namespace plat
