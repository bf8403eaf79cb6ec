#include "cStdoutCapture.h"

#include <fcntl.h>
#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif

cStdoutCapture::cStdoutCapture()
{
    std::fflush(stdout);
    if (!m_file.open())
        return;
    // A descriptor of its own on the file, binary: the lines are compared as written.
    const int fd =
        ::open(QFile::encodeName(m_file.fileName()).constData(), O_WRONLY | O_TRUNC | O_BINARY);
    if (fd < 0)
        return;
    m_savedFd = ::dup(1);
    ::dup2(fd, 1);
    ::close(fd);
}

cStdoutCapture::~cStdoutCapture()
{
    std::fflush(stdout);
    if (m_savedFd >= 0) {
        ::dup2(m_savedFd, 1);
        ::close(m_savedFd);
    }
}

QByteArray cStdoutCapture::text()
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
