// On Windows the emulator is linked into the flashing tool, which no wrapper starts: it
// records the tool's arguments itself, when the program loads, as the wrapper does on Unix.
#include "orvikemu_platform.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <shellapi.h>

namespace {
std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

// One line per run: each argument followed by a unit separator.
const bool recorded = [] {
    const char *dir = std::getenv("ORVIK_EMU_DIR");
    if (!dir)
        return false;
    int count = 0;
    wchar_t **arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return false;
    std::string line;
    for (int i = 1; i < count; ++i)
        line += utf8(arguments[i]) + '\x1f';
    LocalFree(arguments);
    FILE *file = std::fopen((std::string(dir) + "/calls").c_str(), "ab");
    if (!file)
        return false;
    std::fprintf(file, "%s\n", line.c_str());
    return std::fclose(file) == 0;
}();
} // namespace

bool orvikemu::replaceFile(const std::string &from, const std::string &to)
{
    // A reader may hold the file open for a moment; Windows refuses to replace it then.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        Sleep(5);
    }
    return false;
}

void orvikemu::sleepMs(unsigned ms)
{
    Sleep(ms);
}
