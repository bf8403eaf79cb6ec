#include "cDevicePresence.h"

#include "cOrvikPort.h"
#include "cToolOutput.h"
#include "cToolProcess.h"

#include <QFile>
#include <QSerialPortInfo>

namespace {
constexpr int kPollMs = 1000;
// The flashing tool is a program of its own: not more often than this.
constexpr int kListingEveryMs = 3000;
// A listing that takes longer has hung, and counts as having seen nothing.
constexpr int kListingLimitMs = 5000;
constexpr int kListingKillWaitMs = 2000;

} // namespace

cDevicePresence::cDevicePresence(QObject *parent) : QObject(parent)
{
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &cDevicePresence::refresh);
    m_listingLimit.setSingleShot(true);
    connect(&m_listingLimit, &QTimer::timeout, this, [this] { endListing(eSeen::Nothing); });
}

cDevicePresence::~cDevicePresence()
{
    stop();
}

void cDevicePresence::start()
{
    if (m_stopped || m_poll.isActive())
        return;
    m_poll.start();
    refresh();
}

void cDevicePresence::stop()
{
    m_stopped = true;
    m_poll.stop();
    m_listingLimit.stop();
    if (m_listing) {
        m_listing->disconnect(this);
        m_listing->kill();
        m_listing->waitForFinished(kListingKillWaitMs);
        m_listing.reset();
    }
    if (!m_text.isEmpty()) {
        m_text.clear();
        emit textChanged();
    }
}

void cDevicePresence::refresh()
{
    if (m_stopped)
        return;
    bool found = false;
    bool usable = false;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (cOrvikPort::matches(info)) {
            found = true;
            usable = usable || cOrvikPort::mayOpen(info);
        }
    }
    if (found) {
        show(usable ? eSeen::Port : eSeen::PortDenied);
        return;
    }
    // No port of the Orvik: it may wait in its bootloader. A listing still going decides.
    if (m_listing)
        return;
    if (!QFile::exists(cToolProcess::toolPath()))
        show(eSeen::Nothing);
    else if (!m_sinceListing.isValid() || m_sinceListing.hasExpired(kListingEveryMs))
        startListing();
    else
        show(m_listed);
}

void cDevicePresence::startListing()
{
    m_sinceListing.start();
    m_listing = std::make_unique<QProcess>();
    connect(m_listing.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int, QProcess::ExitStatus status) {
                eSeen seen = eSeen::Nothing;
                if (status == QProcess::NormalExit) {
                    if (cToolOutput::listsBootloader(m_listing->readAllStandardOutput()))
                        seen = eSeen::Bootloader;
                    else if (const auto unopened =
                                 cToolOutput::unopenedBootloader(m_listing->readAllStandardError()))
                        seen = unopened == cToolOutput::eNoDriver ? eSeen::BootloaderNoDriver
                                                                  : eSeen::BootloaderDenied;
                }
                endListing(seen);
            });
    connect(m_listing.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            endListing(eSeen::Nothing);
    });
    m_listingLimit.start(kListingLimitMs);
    m_listing->start(cToolProcess::toolPath(), {QStringLiteral("-l")});
}

void cDevicePresence::endListing(eSeen listed)
{
    m_listingLimit.stop();
    if (m_listing) {
        // Released later: this may run inside one of the process's own signals.
        m_listing->disconnect(this);
        if (m_listing->state() != QProcess::NotRunning) {
            m_listing->kill();
            m_listing->waitForFinished(kListingKillWaitMs);
        }
        m_listing.release()->deleteLater();
    }
    m_listed = listed;
    m_sinceListing.start();
    // A port that came while the tool was listing wins.
    refresh();
}

void cDevicePresence::show(eSeen seen)
{
    QString text;
    switch (seen) {
    case eSeen::Nothing:
        text = QStringLiteral("No Orvik connected");
        break;
    case eSeen::Port:
        text = QStringLiteral("Orvik connected");
        break;
    case eSeen::PortDenied:
        text = QStringLiteral("Orvik found, but access is denied");
        break;
    case eSeen::Bootloader:
        text = QStringLiteral("Orvik connected in its bootloader");
        break;
    case eSeen::BootloaderNoDriver:
        text = QStringLiteral("Orvik in its bootloader, but it has no driver");
        break;
    case eSeen::BootloaderDenied:
        text = deniedBootloaderText();
        break;
    }
    if (text != m_text) {
        m_text = text;
        emit textChanged();
    }
    if (seen == m_shown)
        return;
    m_shown = seen;
    if (seen == eSeen::BootloaderNoDriver)
        emit unopenable(cToolOutput::eNoDriver);
    else if (seen == eSeen::PortDenied || seen == eSeen::BootloaderDenied)
        emit unopenable(cToolOutput::eDenied);
}
