#include "cStdoutCapture.h"

#include <QtTest>

#include <fcntl.h>
#include <cstdio>
#include <vector>
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

int cStdoutCapture::runSuite(QObject *suite, int argc, char **argv)
{
    // A log format or file given by hand goes where it was told.
    static const QByteArrayList logChoices{
        "-o", "-txt", "-csv", "-xml", "-lightxml", "-junitxml", "-xunitxml", "-teamcity", "-tap"};
    bool chosen = false;
    for (int i = 1; i < argc; ++i)
        chosen = chosen || logChoices.contains(argv[i]);
    QByteArray option = "-o";
    QByteArray log = chosen ? QByteArray() : openLogStream();
    std::vector<char *> arguments(argv, argv + argc);
    if (!log.isEmpty()) {
        log += ",txt";
        arguments.push_back(option.data());
        arguments.push_back(log.data());
    }
    const int result = QTest::qExec(suite, int(arguments.size()), arguments.data());
    if (!log.isEmpty())
        closeLogStream();
    return result;
}
