#ifndef CORVIKEMULATOR_H
#define CORVIKEMULATOR_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The emulated bootloader seen by the real flashing tool (see orvikemu.cpp).
// While an object lives, ORVIK_EMU_DIR names its state directory in this
// process's environment, so every tool started from here finds the device.
class cOrvikEmulator
{
public:
    static constexpr quint32 kFlashBase = 0x08000000;
    static constexpr int kFlashSize = 1024 * 1024;

    cOrvikEmulator();
    ~cOrvikEmulator();
    cOrvikEmulator(const cOrvikEmulator &) = delete;
    cOrvikEmulator &operator=(const cOrvikEmulator &) = delete;

    bool isValid() const { return m_valid; }
    QString stateDir() const { return m_dir.path(); }

    // The flashing tool that sees the emulated device: Debian's, with the emulator preloaded
    // by a wrapper, or on Windows the tool built from its source with the emulator linked in.
    static bool toolAvailable();
    // Places that tool where the updater looks for it when it runs in workingDir.
    static bool installTool(const QString &workingDir);

    // "bootloader" shows the device on the bus; anything else hides it.
    void setMode(const QString &mode);
    QString mode() const;
    // none, access, no-driver, erase-stall, erase-error, vanish-download, vanish-leave,
    // slow-erase.
    void setFault(const QString &fault);

    // Opening fails for want of a driver until "ms" from now, as while Windows binds one.
    void bindDriverAfter(int ms);
    // The device is in its bootloader from the start.
    void startInBootloader() { setMode(QStringLiteral("bootloader")); }
    // The application obeyed the switch command; the bootloader shows "afterMs" later. May
    // be called from any thread.
    void enterBootloader(int afterMs = 0);
    // True once the device has left the bootloader for the application.
    bool waitForRestartIntoApplication(int ms) const;
    // Holds each download at its first command until release(); true once one is held.
    void holdDownloads();
    bool waitForHeldDownload(int ms) const;
    void release();

    // Each KiB of a sector erase and each data block take this long, as on a real flash.
    void setTiming(int eraseMsPerKib, int writeMsPerBlock);
    // When the device saw a run claim it ("claimed-at"), its first block programmed
    // ("first-write-at"), or when it shows ("appears-at"): ms since the epoch, or -1.
    qint64 timeOf(const char *stamp) const;

    QByteArray flash() const;
    void setFlash(const QByteArray &content);
    // One line per DfuSe command the device received, oldest first.
    QStringList events() const;
    // The arguments of each run of the tool through the wrapper, oldest first.
    QList<QStringList> calls() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_previousDir;
    bool m_hadPreviousDir = false;
    bool m_valid = false;
};

#endif // CORVIKEMULATOR_H
