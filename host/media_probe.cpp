// See media_probe.h.
#include "host/media_probe.h"

#include "platform/file.h"

namespace br {

bool PathExists(const char16_t* path) {
    if (path == nullptr || path[0] == u'\0') {
        return false;
    }
    // The root exists by definition; a search for "\" would look for an entry named "".
    if (path[0] == u'\\' && path[1] == u'\0') {
        return true;
    }
    plat::FindData found{};
    plat::HFIND search = plat::FindFirstFile(path, &found);
    if (search == nullptr) {
        return false;
    }
    plat::FindClose(search);
    return true;
}

}  // namespace br
