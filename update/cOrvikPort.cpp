#include "cOrvikPort.h"

#include <QSerialPortInfo>
#include <QString>

namespace {
constexpr quint16 kProductIds[] = {0x5740, 0xA44B};
// Windows names the port by its driver, Linux by the device's USB product string.
const QString kDescriptions[] = {QStringLiteral("USB Serial Device"),
                                 QStringLiteral("Mireltone Audio - Orvik")};
} // namespace

bool cOrvikPort::matches(const QSerialPortInfo &info)
{
    if (info.vendorIdentifier() != kVendorId)
        return false;
    const QString description = info.description();
    if (description != kDescriptions[0] && description != kDescriptions[1])
        return false;
    const quint16 productId = info.productIdentifier();
    return productId == kProductIds[0] || productId == kProductIds[1];
}
