#include "cDeviceAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <memory>

namespace {
// Where the rules may be installed already: by the updater's package, by the helper, or by
// the administrator. Then the question would be of no help.
const char *const kRulesFolders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                     "/usr/lib/udev/rules.d", "/lib/udev/rules.d",
                                     "/usr/local/lib/udev/rules.d"};
const char kRulesFile[] = "70-orvik-updater.rules";
// pkexec's own codes: the request dismissed; not authorised (a wrong password, or no agent to
// ask for one).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorised = 127;

bool rulesInstalled()
{
    for (const char *folder : kRulesFolders) {
        if (QFile::exists(QDir(QLatin1String(folder)).filePath(QLatin1String(kRulesFile))))
            return true;
    }
    return false;
}
} // namespace

struct cDeviceAccess::cHelperRun
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
};

// Linux binds no driver: the tool and the serial port need only the permission that the udev
// rules give the user at the computer.
bool cDeviceAccess::offersFor(cToolOutput::eUnopened why)
{
    return why == cToolOutput::eDenied && !rulesInstalled();
}

QString cDeviceAccess::textOf(eText which)
{
    switch (which) {
    case eText::Title:
        return QStringLiteral("Orvik Updater: access");
    case eText::Action:
        return QStringLiteral("Allow access");
    case eText::ActionDescription:
        return QStringLiteral("Let the user at this computer open the Orvik: installs the "
                              "updater's udev rules; asks for an administrator's password");
    case eText::Question:
        return QStringLiteral("The Orvik is connected, but this user may not open it. Allow "
                              "access now? The system asks for an administrator's password.");
    case eText::Working:
        return QStringLiteral("Allowing access. Give the password when the system asks.");
    case eText::Done:
        return QStringLiteral("Access is allowed: press Update to write the firmware.");
    case eText::Declined:
        return QStringLiteral("Access was not allowed: the password was not given, or not "
                              "accepted.");
    case eText::NotElevated:
        return QStringLiteral(
            "pkexec is missing, so the updater cannot ask for the password. Allow access by hand "
            "in a terminal, in the updater's folder:\n"
            "sudo cp udev/70-orvik-updater.rules /etc/udev/rules.d/\n"
            "sudo udevadm control --reload-rules\n"
            "sudo udevadm trigger --subsystem-match=tty --subsystem-match=usb");
    case eText::Missing:
        return QStringLiteral("Access was not allowed: %1 is missing from the updater's folder. "
                              "Unpack the updater again.");
    case eText::NotStarted:
        return QStringLiteral("Access was not allowed: pkexec could not start %1 (error %2).");
    case eText::EndedWith:
        return QStringLiteral("Access was not allowed: %1 ended with code %2.");
    }
    return QString();
}

// pkexec asks for the password in a window of its own and runs the helper as root; the window
// goes on responding meanwhile. The helper's line comes through pkexec's output.
void cDeviceAccess::startHelper()
{
    const QString helper = QDir::current().absoluteFilePath(helperPath());
    if (!QFileInfo(helper).isExecutable()) {
        helperEnded(eHelperStart::Missing, 0, QString(), 0);
        return;
    }
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (pkexec.isEmpty()) {
        helperEnded(eHelperStart::NotElevated, 0, QString(), 0);
        return;
    }
    forgetHelper();
    m_run = std::make_shared<cHelperRun>();
    QProcess &process = *m_run->process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(&process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this, &process](int exitCode, QProcess::ExitStatus status) {
                const QString line =
                    QString::fromLocal8Bit(process.readAllStandardOutput()).section('\n', 0, 0);
                const bool normal = status == QProcess::NormalExit;
                if (normal && (exitCode == kPkexecDismissed || exitCode == kPkexecNotAuthorised))
                    helperEnded(eHelperStart::Declined, exitCode, line, 0);
                else
                    helperEnded(eHelperStart::Started, normal ? exitCode : -1, line, 0);
            });
    connect(&process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            helperEnded(eHelperStart::Failed, 0, QString(), quint32(error));
    });
    process.start(pkexec, {helper, QStringLiteral("install")});
}

// A helper still running is left to end by itself: it runs as root, and half a change to /etc
// would be worse than none. Its process object goes once it has ended.
void cDeviceAccess::forgetHelper()
{
    if (!m_run)
        return;
    std::unique_ptr<QProcess> process = std::move(m_run->process);
    m_run.reset();
    process->disconnect(this);
    if (process->state() == QProcess::NotRunning)
        return;
    QProcess *running = process.release();
    QObject::connect(running, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), running,
                     &QObject::deleteLater);
}
