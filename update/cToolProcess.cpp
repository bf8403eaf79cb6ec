#include "cToolProcess.h"

#ifdef Q_OS_UNIX
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
#endif

QString cToolProcess::toolPath()
{
    return QStringLiteral("./dfu-util-0.11/win64/dfu-util-static.exe");
}

cToolProcess::cToolProcess(QObject *parent) : QProcess(parent)
{
#if defined(Q_OS_UNIX) && QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    setChildProcessModifier(detachFromUpdater);
#endif
}

#if defined(Q_OS_UNIX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
void cToolProcess::setupChildProcess()
{
    detachFromUpdater();
}
#endif
