#ifndef BENCHCOMMON_H
#define BENCHCOMMON_H

// Small helpers shared by the benchmarks: a monotonic clock, order statistics
// and what /proc says about load and memory.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {

inline double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Stats
{
    double min = 0, median = 0, max = 0;
};

inline Stats stats(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    const double median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    return {v.front(), median, v.back()};
}

// A field of /proc/PID/status in kB ("VmRSS", "VmHWM"), or -1.
inline long statusKb(const std::string &pid, const char *field)
{
    std::ifstream in("/proc/" + pid + "/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::stol(line.substr(length + 1));
    }
    return -1;
}

// Where the tables go. The code under test writes its own diagnostics to standard
// output; the first call sends those to /dev/null and keeps the real standard
// output for the report.
inline FILE *report()
{
    static FILE *const stream = [] {
        FILE *f = fdopen(dup(STDOUT_FILENO), "w");
        std::fflush(stdout);
#ifdef _WIN32
        const int null = open("NUL", O_WRONLY);
#else
        const int null = open("/dev/null", O_WRONLY);
#endif
        dup2(null, STDOUT_FILENO);
        close(null);
        return f ? f : stderr;
    }();
    return stream;
}

inline std::string loadAverage()
{
#ifdef _WIN32
    std::ifstream in("Z:/proc/loadavg"); // the host's, under Wine
#else
    std::ifstream in("/proc/loadavg");
#endif
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// Printed before and after each table: the machine may be shared.
inline void printLoad(const char *when)
{
    std::fprintf(report(), "load average (%s): %s\n", when, loadAverage().c_str());
    std::fflush(report());
}

} // namespace bench

#endif // BENCHCOMMON_H
