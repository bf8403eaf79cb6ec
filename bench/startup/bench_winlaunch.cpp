// Starts Windows programs for bench_startup under Wine, one at a time, and tells what
// Windows says of them. It is started once for the whole benchmark, so that Wine's own
// start-up and the wineserver are the same for every program. Commands, one a line on
// standard input (UTF-8, fields separated by tabs), each answered by one line:
//   start PATH [NAME=VALUE ...]  -> "started PID" or "failed ERROR"; the environment is set
//                                   first (an empty VALUE removes NAME); the program runs in
//                                   its own folder, its output to NUL
//   memory                       -> "memory WORKINGSET PAGEFILE" (GetProcessMemoryInfo's
//                                   WorkingSetSize and PagefileUsage, bytes), or "memory -1 -1"
//   wait MS                      -> "exited CODE", or "killed" if it still ran after MS
// It answers "ready" when it starts, and ends at the end of its input.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <vector>

namespace {
std::wstring wide(const std::string &s)
{
    std::wstring w(MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), &w[0], int(w.size()));
    return w;
}

std::vector<std::string> fields(const std::string &line)
{
    std::vector<std::string> out;
    size_t begin = 0;
    for (size_t tab; (tab = line.find('\t', begin)) != std::string::npos; begin = tab + 1)
        out.push_back(line.substr(begin, tab - begin));
    out.push_back(line.substr(begin));
    return out;
}

void answer(const std::string &line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

HANDLE start(const std::vector<std::string> &command)
{
    for (size_t i = 2; i < command.size(); ++i) {
        const size_t eq = command[i].find('=');
        if (eq == std::string::npos)
            continue;
        const std::wstring value = wide(command[i].substr(eq + 1));
        SetEnvironmentVariableW(wide(command[i].substr(0, eq)).c_str(),
                                value.empty() ? nullptr : value.c_str());
    }
    const std::wstring path = wide(command[1]);
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    std::wstring commandLine = L"\"" + path + L"\"";
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE null =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = null;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, folder.c_str(), &startup, &process);
    const DWORD error = GetLastError();
    CloseHandle(null);
    if (!started) {
        answer("failed " + std::to_string(error));
        return nullptr;
    }
    CloseHandle(process.hThread);
    answer("started " + std::to_string(process.dwProcessId));
    return process.hProcess;
}

// PagefileUsage is the commit charge, which Windows also gives as PrivateUsage; Wine 8 leaves
// PrivateUsage at 0 for another process and gives RssAnon + VmSwap as PagefileUsage.
void memory(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (process && GetProcessMemoryInfo(process, &counters, sizeof counters))
        answer("memory " + std::to_string(counters.WorkingSetSize) + " " +
               std::to_string(counters.PagefileUsage));
    else
        answer("memory -1 -1");
}

void wait(HANDLE process, DWORD ms)
{
    if (!process) {
        answer("killed");
        return;
    }
    DWORD code = 0;
    if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code)) {
        answer("exited " + std::to_string(code));
    } else {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
        answer("killed");
    }
    CloseHandle(process);
}
} // namespace

int main()
{
    // The programs get NUL, not the benchmark's pipes; answers end in LF alone.
    SetHandleInformation(GetStdHandle(STD_INPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_OUTPUT_HANDLE), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(GetStdHandle(STD_ERROR_HANDLE), HANDLE_FLAG_INHERIT, 0);
    _setmode(_fileno(stdout), _O_BINARY);
    answer("ready");
    HANDLE process = nullptr;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        const std::vector<std::string> command = fields(line);
        if (command[0] == "start" && command.size() > 1) {
            process = start(command);
        } else if (command[0] == "memory") {
            memory(process);
        } else if (command[0] == "wait" && command.size() > 1) {
            wait(process, DWORD(std::stoul(command[1])));
            process = nullptr;
        } else {
            answer("unknown command");
        }
    }
    return 0;
}
