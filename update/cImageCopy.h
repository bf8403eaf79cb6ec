#ifndef CIMAGECOPY_H
#define CIMAGECOPY_H

#include <QByteArray>
#include <QString>

// The checked image in a file of this user's own, handed to the flashing tool in place of
// the user's file. The tool opens its file only after the device has been switched over,
// and a file replaced at the user's path by then (a browser or a sync client finishing a
// download) would be written unchecked. The tool reads the copy whole before it touches
// the device, so the copy may go as soon as the run has ended.
class cImageCopy
{
public:
    cImageCopy() = default;
    ~cImageCopy();
    cImageCopy(const cImageCopy &) = delete;
    cImageCopy &operator=(const cImageCopy &) = delete;

    // Writes the bytes into a new file in the private folder. False when not all of them
    // could be written; nothing is left behind then.
    bool write(const QByteArray &image);
    QString path() const { return m_path; }
    // Removes the copy now.
    void remove();

    // The folder that holds the copies, readable by this user only.
    static QString folder();
    // Removes the copies an updater that was killed mid-run left behind; called at start-up,
    // while this instance holds the single-instance guard, so no run of ours needs one.
    static void removeLeftovers();

private:
    QString m_path;
};

#endif // CIMAGECOPY_H
