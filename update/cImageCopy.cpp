#include "cImageCopy.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
const QString kFolderName = QStringLiteral("pending-images");
const QString kFilePattern = QStringLiteral("image-XXXXXX.bin");
} // namespace

cImageCopy::~cImageCopy()
{
    remove();
}

QString cImageCopy::folder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return data.isEmpty() ? QString() : QDir(data).filePath(kFolderName);
}

bool cImageCopy::write(const QByteArray &image)
{
    remove();
    const QString dir = folder();
    // On Windows the folder lies in the user's own profile; elsewhere its mode says so.
    if (dir.isEmpty() || !QDir().mkpath(dir) ||
        !QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    QTemporaryFile file(QDir(dir).filePath(kFilePattern));
    if (!file.open())
        return false;
    const bool written = file.write(image) == image.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError)
        return false;
    file.setAutoRemove(false);
    m_path = file.fileName();
    return true;
}

void cImageCopy::remove()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
    m_path.clear();
}

void cImageCopy::removeLeftovers()
{
    const QString dir = folder();
    if (dir.isEmpty())
        return;
    const QStringList names = QDir(dir).entryList({QStringLiteral("image-*.bin")}, QDir::Files);
    for (const QString &name : names)
        QFile::remove(QDir(dir).filePath(name));
}
