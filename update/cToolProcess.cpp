#include "cToolProcess.h"

QString cToolProcess::toolPath()
{
    return QStringLiteral("./" ORVIK_TOOL_PATH);
}
