// The file-system probe that decides whether a configured picture or sound exists. The player
// uses it too before it loads a picture.
#pragma once

namespace br {

// False for no path or an empty one; true for "\" (the root of the file system); otherwise true
// when a find-first search for the path (wildcards allowed) finds a file or a directory.
bool PathExists(const char16_t* path);

}  // namespace br
