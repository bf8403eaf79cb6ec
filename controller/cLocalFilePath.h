#ifndef CLOCALFILEPATH_H
#define CLOCALFILEPATH_H

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
};

#endif // CLOCALFILEPATH_H
