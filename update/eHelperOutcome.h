#ifndef EHELPEROUTCOME_H
#define EHELPEROUTCOME_H

// The exit codes of the helpers that set up the Orvik's access with administrator rights, as
// the installer and the updater read them: on Windows orvik-driver.exe (the bootloader's driver
// package), on Linux orvik-access (the udev rules). Below eHelperFirstFailure what was asked is
// in place (or, for "remove", gone or left on purpose).
enum eHelperOutcome
{
    eHelperInstalled = 0,    // Windows: forced onto a bootloader connected now; Linux: rules set up
    eHelperStaged = 1,       // Windows: in the driver store, bound when the bootloader appears
    eHelperAlreadyThere = 2, // the same package, or rules, were there before
    eHelperRemoved = 3,      // remove: what this helper had added is gone
    eHelperLeftInPlace = 4,  // remove: not added by this helper, so kept for whoever did
    eHelperFirstFailure = 10,
    eHelperNoAdmin = 10,      // run without administrator (root) rights
    eHelperFilesMissing = 11, // the package's files (Windows), or udevadm (Linux), are missing
    eHelperRefused = 12,      // the system refused the change; the line tells why
    eHelperArm64 = 13,        // ARM64 Windows, for which the package has no section
    eHelperUsage = 14         // neither "install" nor "remove"
};

#endif // EHELPEROUTCOME_H
