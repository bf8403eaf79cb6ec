#include "cFirmwareImage.h"

#include <QFile>
#include <QFileInfo>

namespace {
// The vector table's first two words: the initial stack pointer and the reset vector.
constexpr int kHeadSize = 8;

// On-chip RAM, both ends included: the stack pointer may sit at the very top.
constexpr quint32 kRamRanges[][2] = {{0x10000000, 0x10010000}, {0x20000000, 0x20080000}};

quint32 littleEndianWord(const QByteArray &bytes, int at)
{
    quint32 word = 0;
    for (int i = 3; i >= 0; --i)
        word = (word << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return word;
}

bool inRam(quint32 address)
{
    for (const auto &range : kRamRanges) {
        if (address >= range[0] && address <= range[1])
            return true;
    }
    return false;
}
} // namespace

cFirmwareImage::eVerdict cFirmwareImage::judge(const QByteArray &head, qint64 size)
{
    if (size < kHeadSize || head.size() < kHeadSize)
        return eImageTooShort;
    if (size > kFlashSize)
        return eImageTooLarge;
    const quint32 stackPointer = littleEndianWord(head, 0);
    const quint32 resetVector = littleEndianWord(head, 4);
    // A Cortex-M core only runs Thumb code: the reset vector's lowest bit is set, and
    // the code it points to must be part of this image.
    const quint32 entry = resetVector & ~quint32(1);
    const bool thumb = (resetVector & 1) != 0;
    const bool inImage = entry >= kFlashBase && entry - kFlashBase < quint64(size);
    return inRam(stackPointer) && thumb && inImage ? eImageAccepted : eImageNotForDevice;
}

cFirmwareImage::eVerdict cFirmwareImage::check(const QString &path)
{
    // A folder, a missing file or a device node is not an image; reading a pipe could
    // block the window for good.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return eImageUnreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return eImageUnreadable;
    const qint64 size = file.size();
    const QByteArray head = file.read(kHeadSize);
    if (head.size() < qMin<qint64>(size, kHeadSize))
        return eImageUnreadable;
    return judge(head, size);
}

QString cFirmwareImage::refusalText(eVerdict verdict)
{
    switch (verdict) {
    case eImageAccepted:
        break;
    case eImageUnreadable:
        return QStringLiteral("Cannot read the firmware file");
    case eImageTooShort:
        return QStringLiteral("Not a firmware image: the file is empty");
    case eImageTooLarge:
        return QStringLiteral("Not a firmware image: larger than 1 MiB");
    case eImageNotForDevice:
        return QStringLiteral("Not a firmware image for the Orvik");
    }
    return QString();
}
