#include "cUpdateDialog.h"

#include "cFirmwareUpdate.h"

cUpdateDialog::cUpdateDialog(QObject *parent) : QObject(parent) {}

// The last update object is kept on purpose until the process ends: its flashing run may
// outlast the bounded wait at shutdown, and deleting the object would end the tool with its
// QProcess in the middle of the write. The leak suppressions (tests/lsan.supp,
// tests/valgrind.supp) rely on this.
cUpdateDialog::~cUpdateDialog() = default;

QString cUpdateDialog::statusInfo() const
{
    return m_update ? m_update->statusInfo() : QString();
}

bool cUpdateDialog::restarting() const
{
    return m_update && m_update->isWaitingForRestart();
}

QByteArray cUpdateDialog::toolErrors() const
{
    return m_update ? m_update->toolErrors() : QByteArray();
}

void cUpdateDialog::WaitForUpdate()
{
    if (m_update)
        m_update->WaitForProcess();
}

void cUpdateDialog::setSelectedFirmwareFile(const QString &FirmwareFile)
{
    m_selectedFile = FirmwareFile;
    emit selectedFirmwareFileChanged();
    m_status = eUpdateReady;
    emit statusChanged();
}

void cUpdateDialog::UpdateFinished(bool Success)
{
    m_status = Success ? eUpdateSucceeded : eUpdateFailed;
    emit statusChanged();
}

void cUpdateDialog::startUpdate()
{
    // The window offers no Update meanwhile, but nothing else may cut a running update short:
    // replacing its update object would end the flashing tool in the middle of the write.
    if (m_status == eUpdateInProgress)
        return;
    if (m_update) {
        // Destroyed at the next pass of the event loop; its connections go with it.
        m_update->deleteLater();
        m_update = nullptr;
    }
    m_update = new cFirmwareUpdate(m_selectedFile, nullptr);
    connect(m_update, &cFirmwareUpdate::UpdateComplete, this, &cUpdateDialog::UpdateFinished);
    connect(m_update, &cFirmwareUpdate::statusInfoChanged, this, &cUpdateDialog::statusInfoChanged);

    m_status = m_update->BeginUpdate() ? eUpdateInProgress : eUpdateFailed;
    emit statusChanged();
    emit statusInfoChanged();
}
