#ifndef EDRIVEROUTCOME_H
#define EDRIVEROUTCOME_H

// The exit codes of the Windows helper that installs the bootloader's driver package
// (orvik-driver.exe), as the installer and the updater read them. Below
// eDriverFirstFailure the package is in place (or, for "remove", gone or left on purpose).
enum eDriverOutcome
{
    eDriverInstalled = 0,    // forced onto a bootloader connected now
    eDriverStaged = 1,       // in the driver store; Windows binds it when the bootloader appears
    eDriverAlreadyThere = 2, // the same package was in the store before
    eDriverRemoved = 3,      // remove: the package this helper had added is gone
    eDriverLeftInPlace = 4,  // remove: not added by this helper, so kept for whoever did
    eDriverFirstFailure = 10,
    eDriverNoAdmin = 10,      // run without administrator rights
    eDriverFilesMissing = 11, // the package's files are not beside the helper
    eDriverRefused = 12,      // Windows refused the package; the line names its error code
    eDriverArm64 = 13,        // ARM64 Windows, for which the package has no section
    eDriverUsage = 14         // neither "install" nor "remove"
};

#endif // EDRIVEROUTCOME_H
