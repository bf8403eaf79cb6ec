#ifndef CORVIKPORT_H
#define CORVIKPORT_H

#include <QtGlobal>

class QSerialPortInfo;

// Which serial ports are the Orvik's in its running mode. The update and the presence line
// ask the same question, so it is answered in one place.
class cOrvikPort
{
public:
    // The USB vendor of the Orvik, in its running mode and in its bootloader.
    static constexpr quint16 kVendorId = 0x0483;

    static bool matches(const QSerialPortInfo &info);
    // Whether this user may open the port, told without opening it: opening it could
    // disturb the device. Windows tells only by opening, so there a port counts as usable.
    static bool mayOpen(const QSerialPortInfo &info);
};

#endif // CORVIKPORT_H
