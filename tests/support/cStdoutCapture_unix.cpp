#include "cStdoutCapture.h"

#include <sys/stat.h>

// Opened again by name, a pipe (what CTest gives) or a terminal is the same stream with a
// descriptor of its own. A file would be truncated and then written at two offsets, and a
// socket cannot be opened by name: there the log stays on standard output.
QByteArray cStdoutCapture::openLogStream()
{
    struct stat status = {};
    if (::fstat(1, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)))
        return QByteArray();
    return QByteArrayLiteral("/dev/stdout");
}

void cStdoutCapture::closeLogStream() {}
