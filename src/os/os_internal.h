// What each system's side of the seam gives the shared part.
#pragma once
#include <cstdint>
#include <string>

namespace os {

uint32_t SystemTick();
void SystemSleep(uint32_t ms);
// Moves `from` over `to`, replacing it, with the move on disk before it returns.
int ReplaceWithFile(const std::string& from, const std::string& to);

}  // namespace os
