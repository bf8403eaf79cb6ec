#include "cDevicePresence.h"

// The tool may not open the bootloader: on Windows, another program has it open.
QString cDevicePresence::deniedBootloaderText()
{
    return QStringLiteral("Orvik in its bootloader, but another program uses it");
}
