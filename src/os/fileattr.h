// File attributes the favorites store needs beyond os.h.
#pragma once
#include <string>

namespace os {

// Clears the read-only attribute of a file (or gives its owner write
// permission); 1 on success, 0 when the file is missing or refuses.
int ClearReadOnly(const std::string& path);

}  // namespace os

namespace os {

// Makes a file readable and writable by its owner alone where the file
// system keeps permissions (mode 0600; a protected access list of the
// current user on Windows). 1 when it did.
int KeepToOwner(const std::string& path);

// Writes `bytes` as `path` for its owner alone: a temporary file beside it is
// created empty, kept to the owner, filled, flushed and renamed over `path`,
// so a crash never leaves half a file under the name. 1 on success.
int WritePrivateFile(const std::string& path, const std::string& bytes);

}  // namespace os
