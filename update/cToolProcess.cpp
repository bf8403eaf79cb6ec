#include "cToolProcess.h"

QString cToolProcess::toolPath()
{
    return QStringLiteral("./dfu-util-0.11/win64/dfu-util-static.exe");
}
