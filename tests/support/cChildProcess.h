#ifndef CCHILDPROCESS_H
#define CCHILDPROCESS_H

#include <QProcess>

// A child that goes down with the test, also when the test is aborted, so that no
// program, notice or X server is left running.
class cChildProcess : public QProcess
{
public:
    explicit cChildProcess(QObject *parent = nullptr);

    // For a failure message: whether the child still runs or how it ended, and the end of
    // what it wrote. It takes the child's unread output, so call it once the test has failed.
    static QByteArray describe(QProcess &process)
    {
        const QByteArray state = process.state() == QProcess::NotRunning
                                     ? "it ended with " + QByteArray::number(process.exitCode())
                                     : QByteArray("it still runs");
        return state + "; it wrote: " +
               (process.readAllStandardOutput() + process.readAllStandardError()).right(2000);
    }

#if defined(Q_OS_UNIX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};

#endif // CCHILDPROCESS_H
