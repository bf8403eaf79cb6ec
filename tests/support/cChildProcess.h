#ifndef CCHILDPROCESS_H
#define CCHILDPROCESS_H

#include <QProcess>

// A child that goes down with the test, also when the test is aborted, so that no
// program, notice or X server is left running.
class cChildProcess : public QProcess
{
public:
    explicit cChildProcess(QObject *parent = nullptr);

#if defined(Q_OS_UNIX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};

#endif // CCHILDPROCESS_H
