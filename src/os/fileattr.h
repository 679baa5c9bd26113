// File attributes the favorites store needs beyond os.h.
#pragma once
#include <string>

namespace os {

// Clears the read-only attribute of a file (or gives its owner write
// permission); 1 on success, 0 when the file is missing or refuses.
int ClearReadOnly(const std::string& path);

}  // namespace os
