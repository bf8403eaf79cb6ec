#include "cInstanceGuard.h"

#include "cExpected.h"

#include <QSharedMemory>

#include <windows.h>

int cInstanceGuard::attachments()
{
    const QString name = QSharedMemory(cExpected::guardKey).nativeKey();
    HANDLE mapping =
        OpenFileMappingW(FILE_MAP_READ, FALSE, reinterpret_cast<LPCWSTR>(name.utf16()));
    if (!mapping)
        return -1;
    CloseHandle(mapping);
    return 1;
}

// Windows removes a segment with the last program that held it.
void cInstanceGuard::removeLeftover(const QString &) {}

int cInstanceGuard::key()
{
    return -1;
}

void cInstanceGuard::removeSegment(int) {}
