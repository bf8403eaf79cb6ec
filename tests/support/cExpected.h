#ifndef CEXPECTED_H
#define CEXPECTED_H

#include "cImageCopy.h"
#include "cToolProcess.h"

#include <algorithm>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

// What the updater must put on the wire and on screen, written down once for every suite.
struct cExpected
{
    static inline const QByteArray updateModeCommand = QByteArray::fromHex("a5a5000e00000000");
    // Where the updater looks for the flashing tool when it runs in "workingDir".
    static QString toolIn(const QString &workingDir)
    {
        return QDir::cleanPath(QDir(workingDir).filePath(cToolProcess::toolPath()));
    }

    // The single-instance guard's shared memory.
    static inline const QString guardKey = QStringLiteral("OrvikUpdaterRunning");

    static inline const QString updating =
        QStringLiteral("Updating... do not power off unit or quit updater!");
    static inline const QString noDevice =
        QStringLiteral("Couldn't find any available Orvik Devices");
    static inline const QString cannotRead = QStringLiteral("Cannot read the firmware file");
    static inline const QString tooShort =
        QStringLiteral("Not a firmware image: the file is empty");
    static inline const QString tooLarge =
        QStringLiteral("Not a firmware image: larger than 1 MiB");
    static inline const QString notForDevice = QStringLiteral("Not a firmware image for the Orvik");
    // The image was written, but the Orvik did not come back after the leave request.
    static inline const QString notRestarted =
        QStringLiteral("Image written, but the Orvik did not restart.\n"
                       "Unplug and replug it. If it won't start, update again.");

    // What a text-mode stream writes for "text": on Windows each line feed becomes CR LF.
    static QByteArray textMode(QByteArray text)
    {
#ifdef Q_OS_WIN
        text.replace("\n", "\r\n");
#endif
        return text;
    }

    // A warning line of the flashing tool: Debian's build starts it with its name (err.h's
    // warnx), the Windows build's own warnx prints the message alone.
    static QString toolWarning(const char *text)
    {
#ifdef Q_OS_WIN
        return QString::fromUtf8(text);
#else
        return QStringLiteral("dfu-util: ") + QString::fromUtf8(text);
#endif
    }

    // A progress record exactly as the flashing tool prints it ("Erase   " or "Download").
    static QByteArray record(const char *label, int percent, int bytes)
    {
        const int bar = percent * 25 / 100;
        return QByteArray("\r") + label + "\t[" + QByteArray(bar, '=') + QByteArray(25 - bar, ' ') +
               "] " + QByteArray::number(percent).rightJustified(3, ' ') + "% " +
               QByteArray::number(bytes).rightJustified(12, ' ') + " bytes";
    }

    static QString progress(int percent)
    {
        return QStringLiteral("Updating... do not power off unit or quit updater! (%1%)")
            .arg(percent);
    }

    // Whether overall percentages shown in order rise as the two phases fill their halves: the
    // erase's below 50 and the download's from 50, each rising. The first is left out: the
    // chunk that holds the tool's "Downloading element ..." line reads as a download report
    // with whatever erase records came with it (under Wine, often most of them).
    static bool risesInHalves(const QList<int> &shown)
    {
        QList<int> erase, download;
        for (int value : shown.mid(1))
            (value < 50 ? erase : download).append(value);
        return std::is_sorted(erase.begin(), erase.end()) &&
               std::is_sorted(download.begin(), download.end());
    }

    // The flashing run's arguments for the device pair; the image is the updater's private
    // copy, written "<copy>" (see withCopy).
    static QStringList flashArguments(const QString &pair)
    {
        return {QStringLiteral("-d"), pair,
                QStringLiteral("-a"), QStringLiteral("0"),
                QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
                QStringLiteral("-D"), QStringLiteral("<copy>")};
    }

    // Recorded tool calls, with a "-D" file in the private copies' folder written "<copy>".
    static QList<QStringList> withCopy(QList<QStringList> calls)
    {
        for (QStringList &call : calls) {
            const int at = call.indexOf(QStringLiteral("-D")) + 1;
            if (at > 0 && at < call.size() &&
                QFileInfo(call[at]).absolutePath() == QDir(cImageCopy::folder()).absolutePath())
                call[at] = QStringLiteral("<copy>");
        }
        return calls;
    }

    // A firmware image the updater accepts: a stack pointer in RAM and a Thumb reset
    // vector inside the image, then a pattern that no two offsets of a sector share.
    static QByteArray image(int size)
    {
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char((i * 7 + i / 251) & 0xff);
        const quint32 words[] = {0x20020000, 0x08000000u + (size > 0x200 ? 0x1c1u : 1u)};
        for (int i = 0; i < 8 && i < size; ++i)
            bytes[i] = char((words[i / 4] >> (8 * (i % 4))) & 0xff);
        return bytes;
    }
};

#endif // CEXPECTED_H
