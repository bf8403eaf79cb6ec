#ifndef CORVIKPORT_H
#define CORVIKPORT_H

class QSerialPortInfo;

// Which serial ports are the Orvik's in its running mode. The update and the presence line
// ask the same question, so it is answered in one place.
class cOrvikPort
{
public:
    static bool matches(const QSerialPortInfo &info);
    // Whether this user may open the port, told without opening it: opening it could
    // disturb the device. Windows tells only by opening, so there a port counts as usable.
    static bool mayOpen(const QSerialPortInfo &info);
};

#endif // CORVIKPORT_H
