#include "orvikemu_platform.h"

#include <cstdio>
#include <time.h>

bool orvikemu::replaceFile(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void orvikemu::sleepMs(unsigned ms)
{
    const timespec pause{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&pause, nullptr);
}
