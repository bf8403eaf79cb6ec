#ifndef CTOOLOUTPUT_H
#define CTOOLOUTPUT_H

#include <QByteArray>
#include <QString>

// How the flashing tool's output is read: pure functions, kept apart from the
// process handling so that they can be fed arbitrary bytes.
class cToolOutput
{
public:
    // The bytes before the first zero byte, decoded as UTF-8 (invalid
    // sequences become U+FFFD).
    static QString decodeUtf8(const QByteArray &bytes);

    // The bytes before the first zero byte, one Latin-1 character each.
    static QString decodeLatin1(const QByteArray &bytes);

    // The overall percentage (erase 0..50, download 50..100) that one chunk of
    // decoded output reports, or 0 when the chunk holds no progress report.
    // Values of 0 and below are not meant to be shown.
    static int overallPercentage(const QString &chunk);

    // The part of "pending" plus "chunk" that holds whole records only: up to the last line
    // end or carriage return, and also a progress record at the end that is complete (ends
    // in "bytes"). The rest, an unfinished record, stays in "pending" for the next chunk.
    // The tool built for Windows writes its progress a few bytes at a time, so that a chunk
    // rarely holds a whole record there.
    static QString takeWholeRecords(QString &pending, const QString &chunk);

    // Whether a device listing ("-l") names the bootloader's USB IDs.
    static bool listsBootloader(const QByteArray &listing);

    // What the error output of a listing says of a bootloader of the Orvik it saw but could
    // not open: only the text tells this from no device at all.
    enum eUnopened
    {
        eOpened,   // no such complaint
        eNoDriver, // LIBUSB_ERROR_NOT_SUPPORTED: Windows has no driver bound to it
        eDenied    // LIBUSB_ERROR_ACCESS: no permission, or (Windows) held by another program
    };
    static eUnopened unopenedBootloader(const QByteArray &errors);

    // Whether a flashing run that failed wrote the whole image and lost the bootloader only at
    // the leave request: it exited with EX_IOERR (74), its output says the download succeeded
    // and then that the leave request went out, and its error output ends with the status
    // request that failed. Many bootloaders restart into the new firmware before they answer
    // that request. The same error line ends a real drop-off during the download, without the
    // lines before it.
    static bool droppedOffAtLeave(int exitCode, const QString &output, const QByteArray &errors);

    // The "-d" argument: run-time IDs, then the bootloader's.
    static QString devicePair(quint16 productId);
};

#endif // CTOOLOUTPUT_H
