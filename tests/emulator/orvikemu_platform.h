#ifndef ORVIKEMU_PLATFORM_H
#define ORVIKEMU_PLATFORM_H

#include <string>

// What the emulated bootloader does differently on each system.
namespace orvikemu {
// Puts "from" in the place of "to" in one step, also where "to" exists.
bool replaceFile(const std::string &from, const std::string &to);
void sleepMs(unsigned ms);
} // namespace orvikemu

#endif // ORVIKEMU_PLATFORM_H
