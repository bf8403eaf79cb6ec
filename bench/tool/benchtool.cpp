// Stand-in for the flashing tool in the benchmarks, placed at the tool's path.
// "-l" lists the bootloader. Any other call writes progress records, 61 bytes
// each in one write(), as the real tool does; BENCHTOOL_MODE picks how:
//   latency  one record every BENCHTOOL_GAP_MS (20) ms, erase 2..98 % then download
//            0..100 % in steps of 2; the CLOCK_MONOTONIC time taken just before each
//            write() goes to BENCHTOOL_LOG as "PHASE PERCENT MS" lines at the end
//            (kept in memory meanwhile, so that no file I/O falls between records)
//   volume   erase and download cycles 0..100 % back to back until BENCHTOOL_BYTES
//            (100000000) bytes are written
#include "benchcommon.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
void out(const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            std::exit(99);
        done += static_cast<size_t>(n);
    }
}

std::string record(bool erase, int percent)
{
    constexpr unsigned long long kImage = 262144;
    const std::string bar = std::string(percent / 4, '=') + std::string(25 - percent / 4, ' ');
    char text[80];
    std::snprintf(text, sizeof text, "\r%s\t[%s] %3d%% %12llu bytes",
                  erase ? "Erase   " : "Download", bar.c_str(), percent, kImage * percent / 100);
    return text;
}

long envLong(const char *name, long fallback)
{
    const char *value = std::getenv(name);
    return value ? std::atol(value) : fallback;
}
} // namespace

int main(int argc, char **argv)
{
    out("dfu-util 0.11\n\n");
    if (argc == 2 && std::string(argv[1]) == "-l") {
        out("Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, path=\"1-1\", alt=0, "
            "name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\", serial=\"1\"\n");
        return 0;
    }
    out("Opening DFU capable USB device...\nDevice ID 0483:df11\n");
    const std::string mode = std::getenv("BENCHTOOL_MODE") ? std::getenv("BENCHTOOL_MODE") : "";
    if (mode == "latency") {
        const long gapMs = envLong("BENCHTOOL_GAP_MS", 20);
        std::string log;
        for (int phase = 0; phase < 2; ++phase) {
            for (int percent = phase ? 0 : 2; percent <= (phase ? 100 : 98); percent += 2) {
                usleep(static_cast<useconds_t>(gapMs * 1000));
                const std::string text = record(phase == 0, percent);
                const double t = bench::nowMs();
                out(text);
                log += std::string(phase ? "D " : "E ") + std::to_string(percent) + ' ' +
                       std::to_string(t) + '\n';
            }
        }
        if (FILE *file = std::fopen(std::getenv("BENCHTOOL_LOG"), "w")) {
            std::fputs(log.c_str(), file);
            std::fclose(file);
        }
    } else if (mode == "volume") {
        const long total = envLong("BENCHTOOL_BYTES", 100000000);
        long written = 0;
        while (written < total) {
            for (int phase = 0; phase < 2 && written < total; ++phase) {
                for (int percent = 0; percent <= 100; ++percent) {
                    out(record(phase == 0, percent));
                    written += 61;
                }
                const std::string done = phase ? "\nDownload done.\n" : "\nErase    done.\n";
                out(done);
                written += static_cast<long>(done.size());
            }
        }
    }
    out("File downloaded successfully\n");
    return 0;
}
