#include "cInstanceGuard.h"

#include "cExpected.h"

#include <QFile>
#include <QSharedMemory>

#include <sys/ipc.h>
#include <sys/shm.h>

int cInstanceGuard::attachments()
{
    // Looked up without attaching, which would change what is being measured.
    const QSharedMemory probe(cExpected::guardKey);
    const key_t key = ::ftok(QFile::encodeName(probe.nativeKey()).constData(), 'Q');
    const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
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
