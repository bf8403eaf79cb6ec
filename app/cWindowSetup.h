#ifndef CWINDOWSETUP_H
#define CWINDOWSETUP_H

class QQmlApplicationEngine;
class QQmlEngine;
class cDevicePresence;
class cDeviceAccess;
class cLocalFilePath;
class cUpdateDialog;

// How the updater sets up its application and its window, written once: the program, the
// window suites and the benchmarks do it the same way.
class cWindowSetup
{
public:
    // The application attributes, before the application object exists.
    static void setAttributes();
    // Before the application object exists: the attributes and the updater's identity.
    static void beforeApplication();
    // Once it exists: the update state known by its name, the buttons' accessibility.
    static void afterApplication();
    // The objects main.qml reads, under the names it reads them by; the access offer learns
    // from the presence line and from each attempt's end.
    static void publish(QQmlEngine &engine, cUpdateDialog *controller,
                        cLocalFilePath *localFilePath, cDevicePresence *presence,
                        cDeviceAccess *access);
    // Once the event loop has ended, before anything else goes: a file dialog that was made
    // is closed and destroyed while the application still runs in full.
    static void releaseFileDialog(QQmlApplicationEngine &engine);
};

#endif // CWINDOWSETUP_H
