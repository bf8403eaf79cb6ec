#include "cOrvikEmulator.h"

#include "cExpected.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>

// The tool built from dfu-util's source with the emulator linked in; it records its own calls.
bool cOrvikEmulator::toolAvailable()
{
    return QFile::exists(QStringLiteral(ORVIKEMU_TOOL));
}

bool cOrvikEmulator::installTool(const QString &workingDir)
{
    const QString path = cExpected::toolIn(workingDir);
    QFile::remove(path);
    return QDir().mkpath(QFileInfo(path).path()) &&
           QFile::copy(QStringLiteral(ORVIKEMU_TOOL), path);
}
