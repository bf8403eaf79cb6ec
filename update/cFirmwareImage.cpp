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

// Whether opening the path opens the file it names. Bytes invalid in the locale's encoding
// were decoded as U+FFFD, and a character the encoding lacks is encoded as another one: either
// way the open would find whatever file bears the name the path turns into, such as a sibling
// really named with U+FFFD. Windows opens files by their UTF-16 names, so there the path is
// the name (and an 8-bit round trip, in the ANSI code page, would refuse good names).
bool opensItsOwnFile(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return true;
#else
    return !path.contains(QChar::ReplacementCharacter) &&
           QFile::decodeName(QFile::encodeName(path)) == path;
#endif
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
    // The initial stack pointer is word-aligned. This also keeps the flashing tool from
    // taking the first bytes for a vendor prefix, which it would cut off before writing:
    // the first byte of both prefixes it knows is never a multiple of 4.
    const bool aligned = (stackPointer & 3) == 0;
    // A Cortex-M core only runs Thumb code: the reset vector's lowest bit is set, and
    // the code it points to must be part of this image.
    const quint32 entry = resetVector & ~quint32(1);
    const bool thumb = (resetVector & 1) != 0;
    const bool inImage = entry >= kFlashBase && entry - kFlashBase < quint64(size);
    return inRam(stackPointer) && aligned && thumb && inImage ? eImageAccepted : eImageNotForDevice;
}

cFirmwareImage::eVerdict cFirmwareImage::load(const QString &path, QByteArray &image)
{
    image.clear();
    // A folder, a missing file or a device node is not an image; reading a pipe could
    // block the window for good.
    if (path.isEmpty() || !opensItsOwnFile(path) || !QFileInfo(path).isFile())
        return eImageUnreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return eImageUnreadable;
    // One byte more than fits tells a file too large, also one that grows meanwhile.
    const QByteArray bytes = file.read(kFlashSize + 1);
    if (file.error() != QFileDevice::NoError)
        return eImageUnreadable;
    const eVerdict verdict = judge(bytes.left(kHeadSize), bytes.size());
    if (verdict == eImageAccepted)
        image = bytes;
    return verdict;
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
