#include "cFakeTool.h"

#include "cExpected.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

cFakeTool::cFakeTool(Placement placement) : m_previousDir(QDir::currentPath())
{
    const QString tool = cExpected::toolIn(m_dir.path());
    if (!m_dir.isValid() || !QDir().mkpath(QFileInfo(tool).path()))
        return;
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    if (placement == Placement::Executable) {
        if (!QFile::copy(QStringLiteral(FAKEDFU_PATH), tool) ||
            !QFile::setPermissions(tool, readable | QFile::ExeOwner | QFile::ExeGroup))
            return;
    } else if (placement == Placement::NotExecutable) {
        // No program for any system, and not executable where that is a permission.
        QFile file(tool);
        if (!file.open(QIODevice::WriteOnly) || file.write("this is no program\n") <= 0 ||
            !file.setPermissions(readable))
            return;
    }
    m_valid = QDir::setCurrent(m_dir.path());
}

cFakeTool::~cFakeTool()
{
    QDir::setCurrent(m_previousDir);
}

QString cFakeTool::image(const QString &name, int size, bool absolute) const
{
    QFile file(m_dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(cExpected::image(size));
    return absolute ? m_dir.filePath(name) : name;
}

void cFakeTool::setScript(const QStringList &listLines, const QStringList &flashLines)
{
    writeScript(m_dir.path(), listLines, flashLines);
}

bool cFakeTool::writeScript(const QString &dir, const QStringList &listLines,
                            const QStringList &flashLines)
{
    QFile script(QDir(dir).filePath(QStringLiteral("fakedfu-script.txt")));
    const QStringList lines = QStringList{QStringLiteral("[list]")} + listLines +
                              QStringList{QStringLiteral("[flash]")} + flashLines;
    return script.open(QIODevice::WriteOnly) &&
           script.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n') > 0;
}

QList<QStringList> cFakeTool::calls() const
{
    return callsIn(m_dir.path());
}

QList<QStringList> cFakeTool::callsIn(const QString &dir)
{
    return readCalls(QDir(dir).filePath(QStringLiteral("fakedfu-calls.txt")));
}

QList<QStringList> cFakeTool::readCalls(const QString &path)
{
    QList<QStringList> result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QStringList arguments = QString::fromUtf8(line).split(QChar(0x1f));
        arguments.removeLast(); // after the last separator
        result << arguments;
    }
    return result;
}

QByteArray cFakeTool::flashedImage() const
{
    QFile file(m_dir.filePath(QStringLiteral("fakedfu-image.bin")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void cFakeTool::acknowledgeChunks(QProcess *process)
{
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this] {
        QFile ack(m_dir.filePath(QStringLiteral("ack-%1").arg(++m_acks)));
        ack.open(QIODevice::WriteOnly);
    });
}

QString cFakeTool::escape(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (byte < 0x20 || byte >= 0x7f)
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(c);
    }
    return text;
}
