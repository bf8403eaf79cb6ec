#ifndef CFIRMWAREUPDATE_H
#define CFIRMWAREUPDATE_H

#include "cImageCopy.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

// One update attempt: finds the device, switches it into its bootloader, runs
// the flashing tool and reports progress and the result.
class cFirmwareUpdate : public QObject
{
    Q_OBJECT

public:
    cFirmwareUpdate(QString FirmwareFile, QObject *parent);
    ~cFirmwareUpdate() override;

    // Starts the attempt. True when the flashing run has been started; its end is
    // then reported through UpdateComplete. False when the attempt ended here.
    bool BeginUpdate();

    // Waits, bounded, for a flashing run that is still going; never kills it.
    void WaitForProcess();

    const QString &statusInfo() const { return m_statusInfo; }
    // The image was written and the bootloader dropped off at the leave request: the attempt
    // waits to see the Orvik's serial port come back. Nothing is written meanwhile.
    bool isWaitingForRestart() const { return m_restartLook.isActive(); }
    // The error output of the attempt's last run of the tool, once that run has ended.
    const QByteArray &toolErrors() const { return m_toolErrors; }

signals:
    void UpdateComplete(bool Success);
    void statusInfoChanged();

public slots:
    void ProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void ProcessOutput();

private:
    bool probeBootloader();
    void startFlashing(quint16 productId);
    void waitForBootloader(quint16 productId);
    // "unopened": the last listing showed the bootloader, but the tool could not open it.
    void lookForBootloader(quint16 productId, bool unopened);
    void launchFlashing(quint16 productId);
    // Ends the run: its log, then the result. "exitCode" is the tool's, for a run that ended
    // normally; a run that crashed or never started passes kNoExitCode.
    void finishRun(int exitCode);
    void complete(bool success, const QString &text);
    void lookForRestart();
    void writeUpdateLog();
    // True when the whole log reached the file; a partial one is removed.
    bool writeLogTo(const QString &path, const QString &error) const;
    void setStatus(const QString &text);
    void reportStatus(const QString &text);

    const QString m_firmwareFile;
    QProcess *m_process = nullptr;
    QString m_statusInfo;
    QString m_outputLog;
    QByteArray m_toolErrors;
    // The start of a progress record whose end is still to come.
    QString m_unfinishedRecord;
    cImageCopy m_imageCopy;
    // The listing that looks for the bootloader after the switch, and since when it looks
    // (once the run has ended: since when the Orvik's return is looked for).
    std::unique_ptr<QProcess> m_listing;
    QElapsedTimer m_waitingSince;
    // After a drop-off at the leave request: the serial ports of the Orvik listed when the run
    // ended, which do not count as its return, and the look for a new one.
    QSet<QString> m_portsBeforeRestart;
    QTimer m_restartLook;
};

#endif // CFIRMWAREUPDATE_H
