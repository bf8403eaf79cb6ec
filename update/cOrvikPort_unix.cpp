#include "cOrvikPort.h"

#include <QFile>
#include <QSerialPortInfo>

#include <unistd.h>

bool cOrvikPort::mayOpen(const QSerialPortInfo &info)
{
    return ::access(QFile::encodeName(info.systemLocation()).constData(), R_OK | W_OK) == 0;
}
