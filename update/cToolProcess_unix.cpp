#include "cToolProcess.h"

#include <csignal>
#include <unistd.h>

namespace {
// Runs in the child between fork and exec: only async-signal-safe calls.
void detachFromUpdater()
{
    ::setsid();
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}
} // namespace

cToolProcess::cToolProcess(QObject *parent) : QProcess(parent)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier(detachFromUpdater);
#endif
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void cToolProcess::setupChildProcess()
{
    detachFromUpdater();
}
#endif
