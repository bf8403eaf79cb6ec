#include "cStdoutCapture.h"

#include <windows.h>

namespace {
struct cPipeEnds
{
    HANDLE pipe;
    HANDLE output;
};

HANDLE pump = nullptr;

// Copies what arrives in the pipe to standard output, until the writer closes it.
DWORD WINAPI copyToOutput(void *parameter)
{
    const cPipeEnds ends = *static_cast<cPipeEnds *>(parameter);
    delete static_cast<cPipeEnds *>(parameter);
    char buffer[4096];
    DWORD got = 0;
    DWORD put = 0;
    if (ConnectNamedPipe(ends.pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
        while (ReadFile(ends.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
            WriteFile(ends.output, buffer, got, &put, nullptr);
    }
    CloseHandle(ends.pipe);
    CloseHandle(ends.output);
    return 0;
}
} // namespace

// QtTest opens its log by name, and nothing names the standard output a Windows program is
// handed: the log goes into a pipe of this process's own, copied to standard output (taken
// before any capture) as it comes.
QByteArray cStdoutCapture::openLogStream()
{
    const QByteArray name =
        "\\\\.\\pipe\\orvik-test-log-" + QByteArray::number(quint64(GetCurrentProcessId()));
    HANDLE output = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
                         &output, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return QByteArray();
    const HANDLE pipe = CreateNamedPipeA(name.constData(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 64 * 1024, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        CloseHandle(output);
        return QByteArray();
    }
    auto *ends = new cPipeEnds{pipe, output};
    pump = CreateThread(nullptr, 0, copyToOutput, ends, 0, nullptr);
    if (!pump) {
        CloseHandle(pipe);
        CloseHandle(output);
        delete ends;
        return QByteArray();
    }
    return name;
}

// QtTest has closed its log: the last lines are let through before the suite ends.
void cStdoutCapture::closeLogStream()
{
    WaitForSingleObject(pump, INFINITE);
    CloseHandle(pump);
}
