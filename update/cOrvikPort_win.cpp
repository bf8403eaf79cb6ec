#include "cOrvikPort.h"

bool cOrvikPort::mayOpen(const QSerialPortInfo &)
{
    return true;
}
