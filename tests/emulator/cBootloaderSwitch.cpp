#include "cBootloaderSwitch.h"

#include "cExpected.h"

void cBootloaderSwitch::start(int port, int afterMs, std::function<void()> meanwhile)
{
    wait();
    m_watcher = std::thread([this, port, afterMs, meanwhile] {
        m_commandSeen = m_ports.received(port, cExpected::updateModeCommand.size());
        if (m_commandSeen != cExpected::updateModeCommand)
            return;
        if (meanwhile)
            meanwhile();
        m_emulator.enterBootloader(afterMs);
    });
}

QByteArray cBootloaderSwitch::commandSeen()
{
    wait();
    return m_commandSeen;
}

void cBootloaderSwitch::wait()
{
    if (m_watcher.joinable())
        m_watcher.join();
}
