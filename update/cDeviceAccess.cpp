#include "cDeviceAccess.h"

#include "cOrvikPort.h"
#include "eHelperOutcome.h"

#include <QSerialPortInfo>

cDeviceAccess::cDeviceAccess(QObject *parent) : QObject(parent) {}

cDeviceAccess::~cDeviceAccess()
{
    forgetHelper();
}

QString cDeviceAccess::helperPath()
{
    return QStringLiteral(ORVIK_ACCESS_HELPER);
}

QString cDeviceAccess::title() const
{
    return textOf(eText::Title);
}

QString cDeviceAccess::action() const
{
    return textOf(eText::Action);
}

QString cDeviceAccess::actionDescription() const
{
    return textOf(eText::ActionDescription);
}

void cDeviceAccess::unopenableSeen(cToolOutput::eUnopened why)
{
    // The presence line looks every few seconds: a question each time would nag.
    if (m_offeredFromListing || !offersFor(why))
        return;
    m_offeredFromListing = true;
    offer();
}

void cDeviceAccess::attemptFailed(const QByteArray &toolErrors)
{
    cToolOutput::eUnopened why = cToolOutput::unopenedBootloader(toolErrors);
    // A serial port refused for want of permission leaves no word of the tool's.
    if (why == cToolOutput::eOpened) {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : ports) {
            if (cOrvikPort::matches(info) && !cOrvikPort::mayOpen(info))
                why = cToolOutput::eDenied;
        }
    }
    if (offersFor(why))
        offer();
}

void cDeviceAccess::attemptStarted()
{
    if (!m_working)
        dismiss();
}

void cDeviceAccess::offer()
{
    if (m_asking)
        return;
    m_asking = true;
    m_done = false;
    m_text = textOf(eText::Question);
    emit changed();
}

void cDeviceAccess::setUp()
{
    if (!m_asking || m_working || m_done)
        return;
    m_working = true;
    m_text = textOf(eText::Working);
    emit changed();
    startHelper();
}

void cDeviceAccess::dismiss()
{
    // A helper still running goes on; its outcome is no longer shown.
    if (!m_asking)
        return;
    m_asking = false;
    emit changed();
}

void cDeviceAccess::helperEnded(eHelperStart start, int exitCode, const QString &line,
                                quint32 error)
{
    m_working = false;
    const QString helper = helperPath();
    switch (start) {
    case eHelperStart::Declined:
        m_text = textOf(eText::Declined);
        break;
    case eHelperStart::NotElevated:
        m_text = textOf(eText::NotElevated);
        break;
    case eHelperStart::Missing:
        m_text = textOf(eText::Missing).arg(helper);
        break;
    case eHelperStart::Failed:
        m_text = textOf(eText::NotStarted).arg(helper).arg(error);
        break;
    case eHelperStart::Started:
        m_done = exitCode >= 0 && exitCode < eHelperFirstFailure;
        if (m_done)
            m_text = textOf(eText::Done);
        else
            m_text = line.isEmpty() ? textOf(eText::EndedWith).arg(helper).arg(exitCode) : line;
        break;
    }
    emit changed();
}
