#ifndef CLOCALFILEPATH_H
#define CLOCALFILEPATH_H

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

// Turns the file dialog's URL into the path the flashing tool and the update
// log need: decoded, absolute, and with a host part as a network share.
class cLocalFilePath : public QObject
{
    Q_OBJECT

public:
    explicit cLocalFilePath(QObject *parent = nullptr);

    Q_INVOKABLE QString fromUrl(const QUrl &url) const;

    // The path of the one local file dropped onto the window, as fromUrl() gives it; empty
    // when the drop is anything else (several items, a folder, a remote URL).
    Q_INVOKABLE QString fromDrop(const QList<QUrl> &urls) const;

    // The folder holding the file at "path", for the file dialog to open in; the user's
    // documents folder when there is no file yet.
    Q_INVOKABLE QUrl folderOf(const QString &path) const;
};

#endif // CLOCALFILEPATH_H
