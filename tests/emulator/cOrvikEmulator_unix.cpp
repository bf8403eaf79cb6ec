#include "cOrvikEmulator.h"

#include "cExpected.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QSaveFile>

namespace {
const QString kTool = QStringLiteral("/usr/bin/dfu-util");
} // namespace

bool cOrvikEmulator::toolAvailable()
{
    return QFile::exists(kTool);
}

// A wrapper that records each call's arguments (a unit separator after each) and runs
// Debian's tool with the emulator preloaded.
bool cOrvikEmulator::installTool(const QString &workingDir)
{
    const QString path = cExpected::toolIn(workingDir);
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    const QByteArray script = "#!/bin/sh\n"
                              "printf '%s\\037' \"$@\" >>\"$ORVIK_EMU_DIR/calls\"\n"
                              "echo >>\"$ORVIK_EMU_DIR/calls\"\n"
                              "LD_PRELOAD='" ORVIKEMU_PATH "' exec " +
                              QFile::encodeName(kTool) + " \"$@\"\n";
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(script) == script.size() &&
           file.commit() &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup);
}
