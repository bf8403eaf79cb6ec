#include "cChildProcess.h"

#include <windows.h>

namespace {
// Every process in it ends when the suite ends, also when the suite is aborted.
HANDLE suiteJob()
{
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}
} // namespace

cChildProcess::cChildProcess(QObject *parent) : QProcess(parent)
{
    connect(this, &QProcess::started, this, [this] {
        HANDLE process =
            OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(processId()));
        if (process) {
            AssignProcessToJobObject(suiteJob(), process);
            CloseHandle(process);
        }
    });
}
