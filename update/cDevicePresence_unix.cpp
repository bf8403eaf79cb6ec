#include "cDevicePresence.h"

// The tool may not open the bootloader: this user lacks the permission (udev rules).
QString cDevicePresence::deniedBootloaderText()
{
    return QStringLiteral("Orvik found, but access is denied");
}
