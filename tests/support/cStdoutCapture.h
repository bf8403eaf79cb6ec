#ifndef CSTDOUTCAPTURE_H
#define CSTDOUTCAPTURE_H

#include <QByteArray>
#include <QTemporaryFile>

class QObject;

// Sends the process's standard output into a file while it lives, so a test can
// read the diagnostic lines the code under test writes. A suite that uses it runs through
// ORVIK_CAPTURING_TEST_MAIN, or a check failing meanwhile would not tell why.
class cStdoutCapture
{
public:
    cStdoutCapture();
    ~cStdoutCapture();
    cStdoutCapture(const cStdoutCapture &) = delete;
    cStdoutCapture &operator=(const cStdoutCapture &) = delete;

    // Everything written so far.
    QByteArray text();

    // Runs the suite with QtTest's log on a stream of its own, which no capture takes;
    // unless the arguments choose where the log goes.
    static int runSuite(QObject *suite, int argc, char **argv);

private:
    // The name QtTest opens its own stream by, empty to keep standard output; and, once the
    // suite has ended, the end of that stream.
    static QByteArray openLogStream();
    static void closeLogStream();

    QTemporaryFile m_file;
    int m_savedFd = -1;
};

// QTEST_GUILESS_MAIN for a suite that captures standard output.
#define ORVIK_CAPTURING_TEST_MAIN(TestObject)                                                      \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QCoreApplication app(argc, argv);                                                          \
        TestObject suite;                                                                          \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return cStdoutCapture::runSuite(&suite, argc, argv);                                       \
    }

#endif // CSTDOUTCAPTURE_H
