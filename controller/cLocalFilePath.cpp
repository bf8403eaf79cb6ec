#include "cLocalFilePath.h"

cLocalFilePath::cLocalFilePath(QObject *parent) : QObject(parent) {}

QString cLocalFilePath::fromUrl(const QUrl &url) const
{
    // "file:///C:/a.bin" gives "C:/a.bin" on Windows, "file:///home/a.bin" gives
    // "/home/a.bin", "file://server/share/a.bin" gives "//server/share/a.bin".
    return url.toLocalFile();
}
