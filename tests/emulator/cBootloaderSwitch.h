#ifndef CBOOTLOADERSWITCH_H
#define CBOOTLOADERSWITCH_H

#include "cFakeSerialPorts.h" // first: umockdev.h must come before any Qt header

#include "cOrvikEmulator.h"

#include <QByteArray>

#include <functional>
#include <thread>

// The device's side of the switch: once the update mode command has come in on its fake
// serial port, the application restarts into the emulated bootloader.
class cBootloaderSwitch
{
public:
    cBootloaderSwitch(const cFakeSerialPorts &ports, cOrvikEmulator &emulator)
        : m_ports(ports), m_emulator(emulator)
    {}
    ~cBootloaderSwitch() { wait(); }
    cBootloaderSwitch(const cBootloaderSwitch &) = delete;
    cBootloaderSwitch &operator=(const cBootloaderSwitch &) = delete;

    // Watches "port" from now on. The bootloader shows "afterMs" after the command; what
    // "meanwhile" does happens right after the command.
    void start(int port, int afterMs = 0, std::function<void()> meanwhile = {});
    // The bytes that arrived at the far end of the port; waits for the watch to end.
    QByteArray commandSeen();

private:
    void wait();

    const cFakeSerialPorts &m_ports;
    cOrvikEmulator &m_emulator;
    std::thread m_watcher;
    QByteArray m_commandSeen;
};

#endif // CBOOTLOADERSWITCH_H
