#ifndef CFIRMWAREIMAGE_H
#define CFIRMWAREIMAGE_H

#include <QByteArray>
#include <QString>

// Whether a file can be the program the Orvik starts from its flash. Checked before
// anything touches the device: a web page, a container format or an erased dump
// written at the flash base would leave the device unable to start.
class cFirmwareImage
{
public:
    enum eVerdict
    {
        eImageAccepted,
        eImageUnreadable,
        eImageTooShort,
        eImageTooLarge,
        eImageNotForDevice,
    };

    // Where the bootloader writes the image, and how much flash there is
    // ("04*016Kg,01*064Kg,07*128Kg").
    static constexpr quint32 kFlashBase = 0x08000000;
    static constexpr qint64 kFlashSize = 1024 * 1024;

    // The verdict on a file of "size" bytes that starts with "head" (its first 8 bytes,
    // or all of it when shorter).
    static eVerdict judge(const QByteArray &head, qint64 size);

    // Reads the file once and judges the bytes read, which land in "image" when accepted:
    // those bytes, not whatever lies at the path later, are what may be written.
    static eVerdict load(const QString &path, QByteArray &image);

    // The status text of a refusal; empty for an accepted image.
    static QString refusalText(eVerdict verdict);
};

#endif // CFIRMWAREIMAGE_H
