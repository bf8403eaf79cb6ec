#include "cDriverRepair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <mutex>
#include <string>
#include <thread>

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

struct cDriverRepair::cHelperWait
{
    std::mutex lock;
    cDriverRepair *owner = nullptr;
    // The helper runs elevated, where its output cannot be read: it writes its line here.
    QTemporaryDir outcomeDir;
};

bool cDriverRepair::offers()
{
    return true;
}

// The elevation prompt and the helper's run happen in a thread of their own: the window goes on
// responding while Windows asks for permission and while the package is installed.
void cDriverRepair::startHelper()
{
    const QString helper = QDir::current().absoluteFilePath(helperPath());
    if (!QFile::exists(helper)) {
        helperEnded(eHelperStart::Missing, 0, QString(), 0);
        return;
    }
    auto wait = std::make_shared<cHelperWait>();
    if (!wait->outcomeDir.isValid()) {
        helperEnded(eHelperStart::Failed, 0, QString(), ERROR_PATH_NOT_FOUND);
        return;
    }
    forgetHelper();
    wait->owner = this;
    m_wait = wait;
    const QString outcomeFile = wait->outcomeDir.filePath(QStringLiteral("outcome.txt"));
    const std::wstring file = QDir::toNativeSeparators(helper).toStdWString();
    const std::wstring parameters =
        L"install --outcome-file \"" + QDir::toNativeSeparators(outcomeFile).toStdWString() + L'"';
    const std::wstring folder = QDir::toNativeSeparators(QDir::currentPath()).toStdWString();

    std::thread([wait, file, parameters, folder, outcomeFile] {
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

        const std::lock_guard<std::mutex> guard(wait->lock);
        cDriverRepair *owner = wait->owner;
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

void cDriverRepair::forgetHelper()
{
    if (!m_wait)
        return;
    const std::lock_guard<std::mutex> guard(m_wait->lock);
    m_wait->owner = nullptr;
}
