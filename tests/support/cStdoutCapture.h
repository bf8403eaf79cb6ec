#ifndef CSTDOUTCAPTURE_H
#define CSTDOUTCAPTURE_H

#include <QByteArray>
#include <QTemporaryFile>

// Sends the process's standard output into a file while it lives, so a test can
// read the diagnostic lines the code under test writes.
class cStdoutCapture
{
public:
    cStdoutCapture();
    ~cStdoutCapture();
    cStdoutCapture(const cStdoutCapture &) = delete;
    cStdoutCapture &operator=(const cStdoutCapture &) = delete;

    // Everything written so far.
    QByteArray text();

private:
    QTemporaryFile m_file;
    int m_savedFd = -1;
};

#endif // CSTDOUTCAPTURE_H
