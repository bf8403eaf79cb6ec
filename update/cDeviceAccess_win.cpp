#include "cDeviceAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <mutex>
#include <string>
#include <thread>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

struct cDeviceAccess::cHelperRun
{
    std::mutex lock;
    cDeviceAccess *owner = nullptr;
    // The helper runs elevated, where its output cannot be read: it writes its line here.
    QTemporaryDir outcomeDir;
};

// The tool opens the bootloader through WinUSB (or libusbK, libusb0): without one of those
// bound to it, the driver the release ships sets it right. A bootloader another program holds
// (LIBUSB_ERROR_ACCESS) is that program's to let go.
bool cDeviceAccess::offersFor(cToolOutput::eUnopened why)
{
    return why == cToolOutput::eNoDriver;
}

QString cDeviceAccess::textOf(eText which)
{
    switch (which) {
    case eText::Title:
        return QStringLiteral("Orvik Updater: driver");
    case eText::Action:
        return QStringLiteral("Install driver");
    case eText::ActionDescription:
        return QStringLiteral(
            "Install the driver for the Orvik's bootloader; Windows asks for permission");
    case eText::Question:
        return QStringLiteral(
            "The Orvik waits in its bootloader, but Windows has no driver for it that the "
            "updater can use. Install the driver now? Windows asks for permission first.");
    case eText::Working:
        return QStringLiteral("Installing the driver. Allow it when Windows asks for permission.");
    case eText::Done:
        return QStringLiteral("The driver is installed: press Update to write the firmware.");
    case eText::Declined:
        return QStringLiteral("The driver was not installed: Windows was not given permission.");
    case eText::NotElevated:
    case eText::NotStarted:
        return QStringLiteral("The driver was not installed: %1 could not be started (error %2).");
    case eText::Missing:
        return QStringLiteral("The driver was not installed: %1 is missing from the updater's "
                              "folder. Reinstall the updater.");
    case eText::EndedWith:
        return QStringLiteral("The driver was not installed: %1 ended with code %2.");
    }
    return QString();
}

// The elevation prompt and the helper's run happen in a thread of their own: the window goes on
// responding while Windows asks for permission and while the package is installed.
void cDeviceAccess::startHelper()
{
    const QString helper = QDir::current().absoluteFilePath(helperPath());
    if (!QFile::exists(helper)) {
        helperEnded(eHelperStart::Missing, 0, QString(), 0);
        return;
    }
    auto run = std::make_shared<cHelperRun>();
    if (!run->outcomeDir.isValid()) {
        helperEnded(eHelperStart::Failed, 0, QString(), ERROR_PATH_NOT_FOUND);
        return;
    }
    forgetHelper();
    run->owner = this;
    m_run = run;
    const QString outcomeFile = run->outcomeDir.filePath(QStringLiteral("outcome.txt"));
    const std::wstring file = QDir::toNativeSeparators(helper).toStdWString();
    const std::wstring parameters =
        L"install --outcome-file \"" + QDir::toNativeSeparators(outcomeFile).toStdWString() + L'"';
    const std::wstring folder = QDir::toNativeSeparators(QDir::currentPath()).toStdWString();

    std::thread([run, file, parameters, folder, outcomeFile] {
        // ShellExecuteEx may hand the start to the shell's COM objects.
        const HRESULT com =
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"runas";
        info.lpFile = file.c_str();
        info.lpParameters = parameters.c_str();
        info.lpDirectory = folder.c_str();
        info.nShow = SW_HIDE;
        eHelperStart start = eHelperStart::Started;
        DWORD exitCode = 0;
        DWORD error = 0;
        if (!ShellExecuteExW(&info)) {
            error = GetLastError();
            start = error == ERROR_CANCELLED ? eHelperStart::Declined : eHelperStart::Failed;
        } else if (info.hProcess) {
            WaitForSingleObject(info.hProcess, INFINITE);
            if (!GetExitCodeProcess(info.hProcess, &exitCode))
                exitCode = DWORD(-1);
            CloseHandle(info.hProcess);
        }
        if (SUCCEEDED(com))
            CoUninitialize();

        const std::lock_guard<std::mutex> guard(run->lock);
        cDeviceAccess *owner = run->owner;
        if (!owner)
            return;
        // Posted under the lock: the owner cannot go in between, and what it has not received
        // when it goes is discarded with it.
        QMetaObject::invokeMethod(
            owner,
            [owner, start, exitCode, error, outcomeFile] {
                QFile outcome(outcomeFile);
                const QString line = outcome.open(QIODevice::ReadOnly)
                                         ? QString::fromUtf8(outcome.readLine()).trimmed()
                                         : QString();
                owner->helperEnded(start, int(exitCode), line, error);
            },
            Qt::QueuedConnection);
    }).detach();
}

void cDeviceAccess::forgetHelper()
{
    if (!m_run)
        return;
    const std::lock_guard<std::mutex> guard(m_run->lock);
    m_run->owner = nullptr;
}
