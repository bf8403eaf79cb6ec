// Stand-in for the flashing tool, placed by the tests at the tool's relative path.
// It appends its arguments to "fakedfu-calls.txt" and then plays the section of
// "fakedfu-script.txt" (both in the working directory) that fits the call:
// "[list]" for "-l", "[flash]" for anything else. One command per line:
//   out TEXT     write TEXT to stdout in one write() (C escapes: \r \t \n \0 \\ \xHH)
//   chunk TEXT   as out, then wait until the test has read it (file "ack-N" appears)
//   err TEXT     write TEXT to stderr in one write()
//   sleep MS     pause
//   hang         never end on its own
// A wait ends when the test that started the tool is gone: the tool outlives the updater by
// design, and would otherwise wait for ever.
//   crash        die by a signal (SIGSEGV)
//   exit CODE    end with CODE (default at the end of the section: 0)
//   write NAME TEXT  replace the file NAME (relative to the working directory) by TEXT
//   writeto OPTION TEXT  replace the file named by the argument after OPTION by TEXT (as the
//                    driver helper, which it also stands in for, writes its outcome)
// A run with "-D FILE" first copies FILE to "fakedfu-image.bin", as the tool reads it whole
// before it touches the device.
#include "fakedfu_platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {
std::string unescape(const std::string &text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char c = text[++i];
        switch (c) {
        case 'r':
            bytes += '\r';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'n':
            bytes += '\n';
            break;
        case '0':
            bytes += '\0';
            break;
        case 'x':
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
            break;
        default:
            bytes += c;
            break;
        }
    }
    return bytes;
}

bool exists(const std::string &path)
{
    return std::ifstream(path).good();
}
} // namespace

int main(int argc, char **argv)
{
    {
        std::ofstream calls("fakedfu-calls.txt", std::ios::app | std::ios::binary);
        // Each argument followed by a unit separator, as the emulated device records them.
        for (int i = 1; i < argc; ++i)
            calls << argv[i] << '\x1f';
        calls << '\n';
    }

    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "-D") {
            std::ifstream image(argv[i + 1], std::ios::binary);
            std::ofstream("fakedfu-image.bin", std::ios::binary) << image.rdbuf();
        }
    }

    const std::string section = (argc == 2 && std::string(argv[1]) == "-l") ? "[list]" : "[flash]";
    std::ifstream script("fakedfu-script.txt", std::ios::binary);
    fakedfu::start();
    const auto waitWhile = [](auto condition) {
        while (condition() && fakedfu::starterAlive())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    };
    std::string line;
    bool inSection = false;
    int acks = 0;
    while (std::getline(script, line)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line == section;
            continue;
        }
        if (!inSection || line.empty())
            continue;
        const size_t blank = line.find(' ');
        const std::string command = line.substr(0, blank);
        const std::string argument = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (command == "out" || command == "chunk") {
            fakedfu::writeAll(1, unescape(argument));
            if (command == "chunk") {
                const std::string ack = "ack-" + std::to_string(++acks);
                waitWhile([&ack] { return !exists(ack); });
            }
        } else if (command == "err") {
            fakedfu::writeAll(2, unescape(argument));
        } else if (command == "sleep") {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argument)));
        } else if (command == "hang") {
            waitWhile([] { return true; });
            return 0;
        } else if (command == "crash") {
            fakedfu::crash();
        } else if (command == "write") {
            const size_t name = argument.find(' ');
            std::ofstream(argument.substr(0, name), std::ios::binary | std::ios::trunc)
                << unescape(name == std::string::npos ? "" : argument.substr(name + 1));
        } else if (command == "writeto") {
            const size_t option = argument.find(' ');
            for (int i = 1; i + 1 < argc; ++i) {
                if (argument.substr(0, option) == argv[i])
                    std::ofstream(argv[i + 1], std::ios::binary | std::ios::trunc)
                        << unescape(option == std::string::npos ? "" : argument.substr(option + 1));
            }
        } else if (command == "exit") {
            return std::stoi(argument);
        }
    }
    return 0;
}
