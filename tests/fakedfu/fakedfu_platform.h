#ifndef FAKEDFU_PLATFORM_H
#define FAKEDFU_PLATFORM_H

#include <string>

// What the stand-in tool does differently on each system.
namespace fakedfu {
// Notes who started the tool. On Windows the output channels also become binary, so that
// every byte of the script arrives as written.
void start();
// Whether the program that started the tool is still there.
bool starterAlive();
// Writes all the bytes to standard output (1) or standard error (2), in one write each time
// the system takes them whole.
void writeAll(int channel, const std::string &bytes);
// Ends the tool as a crash does.
[[noreturn]] void crash();
} // namespace fakedfu

#endif // FAKEDFU_PLATFORM_H
