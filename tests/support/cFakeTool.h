#ifndef CFAKETOOL_H
#define CFAKETOOL_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class QProcess;

// A temporary working directory holding the stand-in flashing tool at the
// tool's fixed relative path, made the current directory while it lives.
class cFakeTool
{
public:
    enum class Placement
    {
        Executable,
        NotExecutable, // a file at the tool's path that cannot be started
        Missing
    };

    explicit cFakeTool(Placement placement = Placement::Executable);
    ~cFakeTool();
    cFakeTool(const cFakeTool &) = delete;
    cFakeTool &operator=(const cFakeTool &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    // Writes an image the updater accepts at "name" (relative to the directory) and
    // returns "name" as given, or as a path in the directory when "absolute".
    QString image(const QString &name, int size = 4096, bool absolute = true) const;

    // The lines of the "[list]" and "[flash]" sections (see fakedfu.cpp).
    void setScript(const QStringList &listLines, const QStringList &flashLines);
    // The same for a stand-in that runs in "dir", as one standing in for the driver helper.
    static bool writeScript(const QString &dir, const QStringList &listLines,
                            const QStringList &flashLines);

    // The argument lists the tool was started with, one per run, in order.
    QList<QStringList> calls() const;
    // The same of a stand-in that ran in "dir".
    static QList<QStringList> callsIn(const QString &dir);
    // The same from a file of such records: a line a run, each argument followed by U+001F.
    static QList<QStringList> readCalls(const QString &path);
    // What the last run with "-D" found in the file it was given ("<none>" if no such run).
    QByteArray flashedImage() const;

    // Lets "chunk" lines go on: acknowledges each chunk once the process's
    // readers have taken it (this connection runs after the update object's).
    void acknowledgeChunks(QProcess *process);

    // A "[list]" line: the tool's listing of the bootloader, as it prints it.
    static inline const QString bootloaderListed = QStringLiteral(
        "out Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, path=\"1-1\", alt=0, "
        "name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\", "
        "serial=\"3276365F3136\"\\n");

    // Escapes bytes for an "out"/"chunk"/"err" line.
    static QString escape(const QByteArray &bytes);

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    bool m_valid = false;
    int m_acks = 0;
};

#endif // CFAKETOOL_H
