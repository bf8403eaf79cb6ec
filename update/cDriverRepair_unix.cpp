#include "cDriverRepair.h"

// Linux binds no driver to the bootloader: the tool opens it directly, given the permission
// that the udev rules grant. There is nothing to install.
bool cDriverRepair::offers()
{
    return false;
}

void cDriverRepair::startHelper()
{
    helperEnded(eHelperStart::Missing, 0, QString(), 0);
}

void cDriverRepair::forgetHelper() {}
