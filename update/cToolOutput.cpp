#include "cToolOutput.h"

#include "cOrvikPort.h"

#include <QStringList>

namespace {
constexpr int kVendorId = cOrvikPort::kVendorId;
constexpr int kBootloaderProductId = 0xDF11;

int usableLength(const QByteArray &bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes.size() : zero;
}
} // namespace

QString cToolOutput::decodeUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), usableLength(bytes));
}

QString cToolOutput::decodeLatin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), usableLength(bytes));
}

int cToolOutput::overallPercentage(const QString &chunk)
{
    const QString text = chunk.simplified();
    const bool hasPercent = text.contains(QLatin1Char('%'));
    // A chunk may hold both phases; the download keyword wins.
    const bool download = hasPercent && text.contains(QLatin1String("Download"));
    const bool erase = !download && hasPercent && text.contains(QLatin1String("Erase"));
    if (!download && !erase)
        return 0;

    // The number stands right before the last "%": at most three digits, or two
    // behind the closing bracket of the progress bar.
    QString window = text.left(text.lastIndexOf(QLatin1Char('%'))).right(3);
    if (window.contains(QLatin1Char(']')))
        window = window.right(2);
    const int phase = window.toInt(nullptr, 10);
    return download ? phase / 2 + 50 : phase / 2;
}

QString cToolOutput::takeWholeRecords(QString &pending, const QString &chunk)
{
    QString text = pending + chunk;
    pending.clear();
    if (text.endsWith(QLatin1String(" bytes")))
        return text;
    const int end = qMax(text.lastIndexOf(QLatin1Char('\r')), text.lastIndexOf(QLatin1Char('\n')));
    pending = text.mid(end < 0 ? 0 : end);
    text.truncate(end < 0 ? 0 : end);
    return text;
}

bool cToolOutput::listsBootloader(const QByteArray &listing)
{
    const QString id = QStringLiteral("%1:%2").arg(QString::number(kVendorId, 16),
                                                   QString::number(kBootloaderProductId, 16));
    return decodeUtf8(listing).indexOf(id, 0, Qt::CaseSensitive) >= 0;
}

cToolOutput::eUnopened cToolOutput::unopenedBootloader(const QByteArray &errors)
{
    // "Cannot open DFU device 0483:df11 found on devnum 5 (LIBUSB_ERROR_NOT_SUPPORTED)"
    const QString id = QStringLiteral("Cannot open DFU device %1:%2 ")
                           .arg(kVendorId, 4, 16, QLatin1Char('0'))
                           .arg(kBootloaderProductId, 4, 16, QLatin1Char('0'));
    const QStringList lines = decodeUtf8(errors).split(QLatin1Char('\n'));
    eUnopened seen = eOpened;
    for (const QString &line : lines) {
        if (!line.contains(id))
            continue;
        if (line.contains(QLatin1String("(LIBUSB_ERROR_NOT_SUPPORTED)")))
            seen = eNoDriver;
        else if (line.contains(QLatin1String("(LIBUSB_ERROR_ACCESS)")) && seen == eOpened)
            seen = eDenied;
    }
    return seen;
}

bool cToolOutput::droppedOffAtLeave(int exitCode, const QString &output, const QByteArray &errors)
{
    constexpr int kIoError = 74; // EX_IOERR
    if (exitCode != kIoError)
        return false;
    const int written = output.indexOf(QLatin1String("File downloaded successfully"));
    if (written < 0 || output.indexOf(QLatin1String("Submitting leave request"), written) < 0)
        return false;
    return decodeUtf8(errors).trimmed().endsWith(QLatin1String("Error during download get_status"));
}

QString cToolOutput::devicePair(quint16 productId)
{
    return QStringLiteral("%1:%2,%1:%3")
        .arg(kVendorId, 0, 16, QLatin1Char(' '))
        .arg(productId, 0, 16, QLatin1Char(' '))
        .arg(kBootloaderProductId, 0, 16, QLatin1Char(' '));
}
