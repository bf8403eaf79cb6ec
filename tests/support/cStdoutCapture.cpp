#include "cStdoutCapture.h"

#include <cstdio>
#include <unistd.h>

cStdoutCapture::cStdoutCapture()
{
    std::fflush(stdout);
    if (!m_file.open())
        return;
    m_savedFd = ::dup(STDOUT_FILENO);
    ::dup2(m_file.handle(), STDOUT_FILENO);
}

cStdoutCapture::~cStdoutCapture()
{
    std::fflush(stdout);
    if (m_savedFd >= 0) {
        ::dup2(m_savedFd, STDOUT_FILENO);
        ::close(m_savedFd);
    }
}

QByteArray cStdoutCapture::text()
{
    std::fflush(stdout);
    QFile file(m_file.fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
