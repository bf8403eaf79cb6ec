#ifndef CTOOLPROCESS_H
#define CTOOLPROCESS_H

#include <QProcess>

// The flashing tool's process. Once started, a flashing run must reach its own end
// whatever happens to the updater: a run cut short leaves the device without a
// program. On Unix the tool gets a session of its own, out of reach of the terminal's
// hang-up and Ctrl+C, and ignores SIGPIPE, so that writing its progress into a pipe
// nobody reads any more does not kill it. On Windows nothing is needed: a child is not
// ended with its parent, and a write into a closed pipe only fails.
class cToolProcess : public QProcess
{
    Q_OBJECT

public:
    explicit cToolProcess(QObject *parent = nullptr);

    // Where the tool is, resolved against the working directory, not the program's folder.
    static QString toolPath();

#if defined(Q_OS_UNIX) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
protected:
    void setupChildProcess() override;
#endif
};

#endif // CTOOLPROCESS_H
