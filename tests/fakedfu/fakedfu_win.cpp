#include "fakedfu_platform.h"

#include <windows.h>

#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <tlhelp32.h>

namespace {
HANDLE starter = nullptr;

DWORD parentId()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return parent;
}
} // namespace

void fakedfu::start()
{
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    starter = OpenProcess(SYNCHRONIZE, FALSE, parentId());
}

bool fakedfu::starterAlive()
{
    return starter && WaitForSingleObject(starter, 0) == WAIT_TIMEOUT;
}

void fakedfu::writeAll(int channel, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const int n = _write(channel, bytes.data() + done, unsigned(bytes.size() - done));
        if (n <= 0) {
            // Started by the shell, as the driver helper is, a console program may get a
            // console handle with no console behind it (Wine without a display): what it
            // prints goes nowhere then, as the real helper's does. Pipes and files are what
            // tests read, and a failure there must show.
            if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(channel))) == FILE_TYPE_CHAR)
                return;
            std::exit(99);
        }
        done += size_t(n);
    }
}

void fakedfu::crash()
{
    // What an access violation ends a program with.
    TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
    std::abort();
}
