#include "cFirmwareUpdate.h"

#include "cFirmwareImage.h"
#include "cOrvikPort.h"
#include "cToolOutput.h"
#include "cToolProcess.h"

#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {
// Restarts the device into its DFU bootloader; nothing comes back.
constexpr char kUpdateModeCommand[8] = {'\xA5', '\xA5', '\x00', '\x0E',
                                        '\x00', '\x00', '\x00', '\x00'};
constexpr qint32 kBaudRate = 921600;
constexpr int kWriteWaitMs = 5000;
constexpr int kProbeWaitMs = 30000;
// How long an abandoned listing gets to end after it was killed.
constexpr int kProbeKillWaitMs = 5000;
constexpr unsigned long kPauseBeforeFlashingMs = 500;
// After the switch, the bootloader can take seconds to show (on Windows above all): the
// tool's listing is asked this often, for this long, before the flashing run starts.
constexpr int kBootloaderLookEveryMs = 500;
constexpr int kBootloaderWaitMs = 10000;
// A bootloader that shows but cannot be opened yet is waited for longer: the first time it
// appears, Windows may take that long to bind the driver staged for it.
constexpr int kUnopenedBootloaderWaitMs = 30000;
constexpr int kListingKillWaitMs = 2000;
constexpr int kShutdownWaitMs = 30000;
// After the bootloader dropped off at the leave request, the Orvik starting its new firmware
// shows its serial port again within a few seconds: looked for this often, for this long.
constexpr int kRestartLookEveryMs = 250;
constexpr int kRestartWaitMs = 15000;
constexpr int kNoExitCode = -1;

const QString kTextToolMissing = QStringLiteral("Failed to find DFU Util");
const QString kTextPortOpened = QStringLiteral("Succeeded opening port");
const QString kTextNoDevice = QStringLiteral("Couldn't find any available Orvik Devices");
const QString kTextUpdateModeFailed = QStringLiteral("Failed to enable update mode");
const QString kTextCopyFailed = QStringLiteral("Cannot copy the firmware file");
const QString kTextUpdating = QStringLiteral("Updating... do not power off unit or quit updater!");
const QString kTextProgress =
    QStringLiteral("Updating... do not power off unit or quit updater! (%1%)");
const QString kTextSucceeded = QStringLiteral("Update succeeded");
const QString kTextFailed = QStringLiteral("Update failed");
const QString kTextRestarting = QStringLiteral("Restarting the Orvik...");
// Two lines, each short enough for the status line.
const QString kTextNotRestarted =
    QStringLiteral("Image written, but the Orvik did not restart.\n"
                   "Unplug and replug it. If it won't start, update again.");
// Appended to the image's path less its last 3 characters; also the name of the log in the
// data folder, where it goes when it cannot be written beside the image.
const QString kLogSuffix = QStringLiteral("OrvikUpdater.log");
const QString kLogRule = QStringLiteral("-------------------------------------");

// Diagnostics are whole lines, flushed at once, for whoever reads the console.
void writeLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Where the serial ports of the Orvik listed now are.
QSet<QString> orvikPorts()
{
    QSet<QString> found;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (cOrvikPort::matches(info))
            found.insert(info.systemLocation());
    }
    return found;
}

QString openFailureText(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("Device connection failure.\nEnsure your cable is securely fitted.");
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return QStringLiteral(
            "Device already in use.\nClose all other apps connected to your Orvik device.");
    case QSerialPort::TimeoutError:
        return QStringLiteral("Timeout occured. Please try again.");
    default:
        return QStringLiteral("Error %1 occured.").arg(static_cast<int>(error));
    }
}
} // namespace

cFirmwareUpdate::cFirmwareUpdate(QString FirmwareFile, QObject *parent)
    : QObject(parent), m_firmwareFile(std::move(FirmwareFile))
{
    m_restartLook.setInterval(kRestartLookEveryMs);
    connect(&m_restartLook, &QTimer::timeout, this, &cFirmwareUpdate::lookForRestart);
}

// A process object still here goes with this object, as its child.
cFirmwareUpdate::~cFirmwareUpdate() = default;

bool cFirmwareUpdate::BeginUpdate()
{
    m_outputLog = QString();

    if (!QFile::exists(cToolProcess::toolPath())) {
        writeLine(kTextToolMissing.toLatin1());
        setStatus(kTextToolMissing);
        return false;
    }
    // Before anything touches the device: a file that is no program for it would be
    // written all the same, and the device could not start any more. The tool gets the
    // very bytes checked here.
    QByteArray image;
    const cFirmwareImage::eVerdict verdict = cFirmwareImage::load(m_firmwareFile, image);
    if (verdict != cFirmwareImage::eImageAccepted) {
        reportStatus(cFirmwareImage::refusalText(verdict));
        return false;
    }
    if (!m_imageCopy.write(image)) {
        reportStatus(kTextCopyFailed);
        return false;
    }
    m_process = new cToolProcess(this);

    QSerialPort port;
    port.setBaudRate(kBaudRate, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);

    quint16 productId = 0;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (!cOrvikPort::matches(info))
            continue;
        productId = info.productIdentifier();
        port.setPortName(info.portName());
        // A port held elsewhere is passed over silently; the last error counts.
        if (port.open(QIODevice::ReadWrite)) {
            writeLine(kTextPortOpened.toLatin1());
            setStatus(kTextPortOpened);
            break;
        }
    }

    if (!port.isOpen()) {
        if (port.error() != QSerialPort::NoError) {
            reportStatus(openFailureText(port.error()));
            return false;
        }
        // No port of the device at all: it may already wait in its bootloader.
        // The text is shown only if the listing does not find it either.
        m_statusInfo = kTextNoDevice;
        if (!probeBootloader())
            return false;
        startFlashing(0);
        return true;
    }

    const qint64 written = port.write(kUpdateModeCommand, sizeof kUpdateModeCommand);
    port.waitForBytesWritten(kWriteWaitMs);
    port.close();
    if (written == -1) {
        writeLine(kTextUpdateModeFailed.toLatin1());
        setStatus(kTextUpdateModeFailed);
        return false;
    }
    waitForBootloader(productId);
    return true;
}

bool cFirmwareUpdate::probeBootloader()
{
    m_process->start(cToolProcess::toolPath(), {QStringLiteral("-l")}, QIODevice::ReadWrite);
    if (!m_process->waitForFinished(kProbeWaitMs)) {
        // No answer in time: try the flashing run all the same. A listing that is
        // still going must end first, or the flashing run could not start on this
        // process object and the listing's own end would pass for its result.
        if (m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(kProbeKillWaitMs);
        }
        return true;
    }
    if (cToolOutput::listsBootloader(m_process->readAllStandardOutput()))
        return true;
    m_toolErrors = m_process->readAllStandardError();
    reportStatus(m_statusInfo);
    return false;
}

void cFirmwareUpdate::startFlashing(quint16 productId)
{
    setStatus(kTextUpdating);
    // Gives the device time to come back as its bootloader.
    QThread::msleep(kPauseBeforeFlashingMs);
    launchFlashing(productId);
}

// Within the event loop, so that the window goes on responding: the pause, then a listing
// every half second until the bootloader shows or the time is up. Then the flashing run
// starts in any case; if the bootloader never came, its failure is the tool's own to tell.
void cFirmwareUpdate::waitForBootloader(quint16 productId)
{
    setStatus(kTextUpdating);
    QTimer::singleShot(kPauseBeforeFlashingMs, this, [this, productId] {
        m_waitingSince.start();
        lookForBootloader(productId, false);
    });
}

void cFirmwareUpdate::lookForBootloader(quint16 productId, bool unopened)
{
    m_listing = std::make_unique<QProcess>();
    const auto listed = [this, productId](bool found, bool unopened) {
        if (!m_listing)
            return;
        m_listing->disconnect(this);
        if (m_listing->state() != QProcess::NotRunning) {
            m_listing->kill();
            m_listing->waitForFinished(kListingKillWaitMs);
        }
        // Released later: this may run inside one of the process's own signals.
        m_listing.release()->deleteLater();
        const qint64 left =
            (unopened ? kUnopenedBootloaderWaitMs : kBootloaderWaitMs) - m_waitingSince.elapsed();
        if (found || left <= 0) {
            launchFlashing(productId);
            return;
        }
        // On a fixed beat from the first listing, so that a slow listing (as on Windows)
        // does not stretch the wait for a bootloader that has come in the meantime.
        const qint64 beat =
            kBootloaderLookEveryMs - m_waitingSince.elapsed() % kBootloaderLookEveryMs;
        QTimer::singleShot(int(qMin(left, beat)), this,
                           [this, productId, unopened] { lookForBootloader(productId, unopened); });
    };
    connect(m_listing.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, listed] {
                listed(cToolOutput::listsBootloader(m_listing->readAllStandardOutput()),
                       cToolOutput::unopenedBootloader(m_listing->readAllStandardError()) ==
                           cToolOutput::eNoDriver);
            });
    connect(m_listing.get(), &QProcess::errorOccurred, this,
            [listed](QProcess::ProcessError error) {
                if (error == QProcess::FailedToStart)
                    listed(false, false);
            });
    // A listing that hangs must not hold up the run beyond the wait.
    const int waitMs = unopened ? kUnopenedBootloaderWaitMs : kBootloaderWaitMs;
    QTimer::singleShot(int(qMax<qint64>(0, waitMs - m_waitingSince.elapsed())), m_listing.get(),
                       [listed] { listed(false, false); });
    m_listing->start(cToolProcess::toolPath(), {QStringLiteral("-l")});
}

void cFirmwareUpdate::launchFlashing(quint16 productId)
{
    const QStringList arguments{QStringLiteral("-d"), cToolOutput::devicePair(productId),
                                QStringLiteral("-a"), QStringLiteral("0"),
                                QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
                                QStringLiteral("-D"), m_imageCopy.path()};
    // Only a listing that would not die can leave the process busy here; its end
    // must never pass for the result of the flashing run.
    bool launched = false;
    if (m_process->state() == QProcess::NotRunning) {
        m_process->start(cToolProcess::toolPath(), arguments, QIODevice::ReadWrite);
        launched = m_process->state() != QProcess::NotRunning;
    }
    if (!launched) {
        // A run that never starts has no exit code: it ends as a failure, after
        // BeginUpdate has returned, as a run that ran would.
        QMetaObject::invokeMethod(
            this, [this] { finishRun(kNoExitCode); }, Qt::QueuedConnection);
        return;
    }

    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &cFirmwareUpdate::ProcessFinished);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &cFirmwareUpdate::ProcessOutput);
    // The start itself can still fail (a tool that cannot be executed); that is
    // reported later, and never followed by finished().
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finishRun(kNoExitCode);
    });
}

void cFirmwareUpdate::WaitForProcess()
{
    if (m_process)
        m_process->waitForFinished(kShutdownWaitMs);
    // The updater ends: a wait for the Orvik's return has nobody left to tell.
    m_restartLook.stop();
}

void cFirmwareUpdate::ProcessFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    finishRun(exitStatus == QProcess::NormalExit ? exitCode : kNoExitCode);
}

void cFirmwareUpdate::ProcessOutput()
{
    if (!m_process)
        return;
    const QString chunk = cToolOutput::decodeUtf8(m_process->readAllStandardOutput());
    m_outputLog += chunk;
    const int overall =
        cToolOutput::overallPercentage(cToolOutput::takeWholeRecords(m_unfinishedRecord, chunk));
    if (overall > 0)
        setStatus(kTextProgress.arg(overall));
}

void cFirmwareUpdate::finishRun(int exitCode)
{
    // Once per run, whichever of the process's signals comes first.
    if (!m_process)
        return;
    m_toolErrors = m_process->readAllStandardError();
    writeUpdateLog();
    // The tool read the copy before it touched the device.
    m_imageCopy.remove();
    // The exit code tells whether the image was written, but for a bootloader that restarts
    // into the new firmware before it answers the leave request: whether the Orvik comes
    // back tells then.
    if (cToolOutput::droppedOffAtLeave(exitCode, m_outputLog, m_toolErrors)) {
        m_process->deleteLater();
        m_process = nullptr;
        m_portsBeforeRestart = orvikPorts();
        m_waitingSince.start();
        m_restartLook.start();
        setStatus(kTextRestarting);
        return;
    }
    complete(exitCode == 0, exitCode == 0 ? kTextSucceeded : kTextFailed);
}

void cFirmwareUpdate::complete(bool success, const QString &text)
{
    setStatus(text);
    if (m_process) {
        m_process->deleteLater();
        m_process = nullptr;
    }
    emit UpdateComplete(success);
}

// Back once a serial port of the Orvik shows that was not there when the run ended: a second
// Orvik that was connected all along says nothing of this one.
void cFirmwareUpdate::lookForRestart()
{
    const QSet<QString> ports = orvikPorts();
    if (!(ports - m_portsBeforeRestart).isEmpty()) {
        m_restartLook.stop();
        writeLine("The Orvik came back after the leave request: the update succeeded");
        complete(true, kTextSucceeded);
        return;
    }
    if (m_waitingSince.elapsed() < kRestartWaitMs)
        return;
    m_restartLook.stop();
    writeLine(kTextNotRestarted.toLocal8Bit());
    complete(false, kTextNotRestarted);
}

void cFirmwareUpdate::writeUpdateLog()
{
    const QString firmwareFile = m_firmwareFile;
    if (firmwareFile.size() <= 3)
        return;
    const QString error = cToolOutput::decodeLatin1(m_toolErrors);
    if (writeLogTo(firmwareFile.left(firmwareFile.size() - 3) + kLogSuffix, error))
        return;
    // A read-only folder, a name too long or a full disk: the log is what tells why an
    // update failed, so it goes where the user's data goes instead, and the path is said.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    const QString fallback = QDir(folder).filePath(kLogSuffix);
    if (folder.isEmpty() || !QDir().mkpath(folder) || !writeLogTo(fallback, error)) {
        writeLine("Failed to write the update log");
        return;
    }
    writeLine(QStringLiteral("Update log written to %1")
                  .arg(QDir::toNativeSeparators(fallback))
                  .toLocal8Bit());
}

bool cFirmwareUpdate::writeLogTo(const QString &path, const QString &error) const
{
    QFile log(path);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&log);
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0) && defined(Q_OS_WIN)
    // Qt 6 would write UTF-8 whatever the locale; the log keeps the encoding the Qt 5 build
    // writes, the system's ANSI code page, which older Windows tools take a plain text for.
    stream.setEncoding(QStringConverter::System);
#endif
    stream << kLogRule << '\n' << "Output:" << '\n';
    // In slices: written at once, the stream would copy and encode the whole output in one
    // go, several times its size for a long run. The stream's encoder carries a surrogate
    // pair split between two slices.
    const int slice = 1 << 20;
    for (int at = 0; at < m_outputLog.size(); at += slice)
        stream << QStringView(m_outputLog).mid(at, slice);
    stream << '\n' << kLogRule << '\n' << "Error:" << '\n' << error << '\n' << kLogRule << '\n';
    stream.flush();
    const bool whole = stream.status() == QTextStream::Ok && log.flush();
    log.close();
    if (whole && log.error() == QFileDevice::NoError)
        return true;
    // A log cut short would pass for the whole story.
    log.remove();
    return false;
}

void cFirmwareUpdate::setStatus(const QString &text)
{
    m_statusInfo = text;
    emit statusInfoChanged();
}

void cFirmwareUpdate::reportStatus(const QString &text)
{
    m_statusInfo = text;
    writeLine(m_statusInfo.toLocal8Bit());
    emit statusInfoChanged();
}
