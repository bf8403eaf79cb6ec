#include "cDriverRepair.h"

#include "cToolOutput.h"
#include "eDriverOutcome.h"

namespace {
const QString kQuestion = QStringLiteral(
    "The Orvik waits in its bootloader, but Windows has no driver for it that the updater can "
    "use. Install the driver now? Windows asks for permission first.");
const QString kInstalling =
    QStringLiteral("Installing the driver. Allow it when Windows asks for permission.");
const QString kInstalled =
    QStringLiteral("The driver is installed: press Update to write the firmware.");
const QString kDeclined =
    QStringLiteral("The driver was not installed: Windows was not given permission.");
const QString kMissing = QStringLiteral("The driver was not installed: %1 is missing from the "
                                        "updater's folder. Reinstall the updater.");
const QString kNotStarted =
    QStringLiteral("The driver was not installed: %1 could not be started (error %2).");
const QString kEndedWith = QStringLiteral("The driver was not installed: %1 ended with code %2.");
} // namespace

cDriverRepair::cDriverRepair(QObject *parent) : QObject(parent) {}

cDriverRepair::~cDriverRepair()
{
    forgetHelper();
}

QString cDriverRepair::helperPath()
{
    return QStringLiteral(ORVIK_DRIVER_HELPER);
}

void cDriverRepair::bootloaderSeenWithoutDriver()
{
    // The listing looks every few seconds: a question each time would nag.
    if (m_offeredFromListing)
        return;
    m_offeredFromListing = true;
    offer();
}

void cDriverRepair::attemptFailed(const QByteArray &toolErrors)
{
    if (cToolOutput::unopenedBootloader(toolErrors) == cToolOutput::eNoDriver)
        offer();
}

void cDriverRepair::attemptStarted()
{
    if (!m_installing)
        dismiss();
}

void cDriverRepair::offer()
{
    if (!offers() || m_asking)
        return;
    m_asking = true;
    m_installed = false;
    m_text = kQuestion;
    emit changed();
}

void cDriverRepair::install()
{
    if (!m_asking || m_installing || m_installed)
        return;
    m_installing = true;
    m_text = kInstalling;
    emit changed();
    startHelper();
}

void cDriverRepair::dismiss()
{
    // A helper still running goes on; its outcome is no longer shown.
    if (!m_asking)
        return;
    m_asking = false;
    emit changed();
}

void cDriverRepair::helperEnded(eHelperStart start, int exitCode, const QString &line,
                                quint32 error)
{
    m_installing = false;
    const QString helper = helperPath();
    switch (start) {
    case eHelperStart::Declined:
        m_text = kDeclined;
        break;
    case eHelperStart::Missing:
        m_text = kMissing.arg(helper);
        break;
    case eHelperStart::Failed:
        m_text = kNotStarted.arg(helper).arg(error);
        break;
    case eHelperStart::Started:
        m_installed = exitCode >= 0 && exitCode < eDriverFirstFailure;
        if (m_installed)
            m_text = kInstalled;
        else
            m_text = line.isEmpty() ? kEndedWith.arg(helper).arg(exitCode) : line;
        break;
    }
    emit changed();
}
