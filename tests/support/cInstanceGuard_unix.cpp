#include "cInstanceGuard.h"

#include "cExpected.h"

#include <QFile>
#include <QSharedMemory>

#include <sys/ipc.h>
#include <sys/shm.h>

int cInstanceGuard::key()
{
    const QSharedMemory probe(cExpected::guardKey);
    return ::ftok(QFile::encodeName(probe.nativeKey()).constData(), 'Q');
}

void cInstanceGuard::removeSegment(int key)
{
    const int id = ::shmget(key, 0, 0);
    shmid_ds info;
    if (id != -1 && ::shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0)
        ::shmctl(id, IPC_RMID, nullptr);
}

int cInstanceGuard::attachments()
{
    // Looked up without attaching, which would change what is being measured.
    const key_t guard = key();
    const int id = guard == -1 ? -1 : ::shmget(guard, 0, 0);
    shmid_ds info;
    if (id == -1 || ::shmctl(id, IPC_STAT, &info) == -1)
        return -1;
    return int(info.shm_nattch);
}

void cInstanceGuard::removeLeftover(const QString &tempFolder)
{
    const bool hadTmpDir = qEnvironmentVariableIsSet("TMPDIR");
    const QByteArray previous = qgetenv("TMPDIR");
    if (!tempFolder.isEmpty())
        qputenv("TMPDIR", QFile::encodeName(tempFolder));
    {
        // The last detach of a segment nobody holds removes it.
        QSharedMemory leftover(cExpected::guardKey);
        if (leftover.attach())
            leftover.detach();
    }
    if (tempFolder.isEmpty())
        return;
    if (hadTmpDir)
        qputenv("TMPDIR", previous);
    else
        qunsetenv("TMPDIR");
}
