#include "cOrvikEmulator.h"

#include <QDir>
#include <QFile>

// The tool built from dfu-util's source with the emulator linked in; it records its own calls.
bool cOrvikEmulator::toolAvailable()
{
    return QFile::exists(QStringLiteral(ORVIKEMU_TOOL));
}

bool cOrvikEmulator::installTool(const QString &workingDir)
{
    const QString toolDir = QStringLiteral("dfu-util-0.11/win64");
    const QString path =
        QDir(workingDir).filePath(toolDir + QStringLiteral("/dfu-util-static.exe"));
    QFile::remove(path);
    return QDir(workingDir).mkpath(toolDir) && QFile::copy(QStringLiteral(ORVIKEMU_TOOL), path);
}
