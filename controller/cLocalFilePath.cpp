#include "cLocalFilePath.h"

#include <QFileInfo>
#include <QStandardPaths>

cLocalFilePath::cLocalFilePath(QObject *parent) : QObject(parent) {}

QString cLocalFilePath::fromUrl(const QUrl &url) const
{
    // "file:///C:/a.bin" gives "C:/a.bin" on Windows, "file:///home/a.bin" gives
    // "/home/a.bin", "file://server/share/a.bin" gives "//server/share/a.bin".
    return url.toLocalFile();
}

QString cLocalFilePath::fromDrop(const QList<QUrl> &urls) const
{
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = fromUrl(urls.first());
    return QFileInfo(path).isFile() ? path : QString();
}

QUrl cLocalFilePath::folderOf(const QString &path) const
{
    if (path.isEmpty())
        return QUrl::fromLocalFile(
            QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation).value(0));
    return QUrl::fromLocalFile(QFileInfo(path).absolutePath());
}
