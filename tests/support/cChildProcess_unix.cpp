#include "cChildProcess.h"

#include <csignal>
#include <sys/prctl.h>

namespace {
void dieWithParent()
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
}
} // namespace

cChildProcess::cChildProcess(QObject *parent) : QProcess(parent)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier(dieWithParent);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void cChildProcess::setupChildProcess()
{
    dieWithParent();
}
#endif
