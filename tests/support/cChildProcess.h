#ifndef CCHILDPROCESS_H
#define CCHILDPROCESS_H

#include <QProcess>

// A child that goes down with the test, also when the test is aborted, so that no
// program, notice or X server is left running.
class cChildProcess : public QProcess
{
public:
    using QProcess::QProcess;

protected:
    void setupChildProcess() override;
};

#endif // CCHILDPROCESS_H
