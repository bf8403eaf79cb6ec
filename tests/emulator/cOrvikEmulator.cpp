#include "cOrvikEmulator.h"

#include "cFakeTool.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QtTest/qtestsystem.h>

namespace {
// Replaced in one step, as the emulator may read it at any moment.
bool writeAtomically(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
           file.commit();
}
} // namespace

cOrvikEmulator::cOrvikEmulator()
    : m_previousDir(qgetenv("ORVIK_EMU_DIR")),
      m_hadPreviousDir(qEnvironmentVariableIsSet("ORVIK_EMU_DIR"))
{
    if (!m_dir.isValid())
        return;
    qputenv("ORVIK_EMU_DIR", QFile::encodeName(m_dir.path()));
    m_valid = writeAtomically(m_dir.filePath(QStringLiteral("flash.bin")),
                              QByteArray(kFlashSize, '\xff'));
}

cOrvikEmulator::~cOrvikEmulator()
{
    if (m_hadPreviousDir)
        qputenv("ORVIK_EMU_DIR", m_previousDir);
    else
        qunsetenv("ORVIK_EMU_DIR");
}

void cOrvikEmulator::setMode(const QString &mode)
{
    writeAtomically(m_dir.filePath(QStringLiteral("mode")), mode.toUtf8() + '\n');
}

QString cOrvikEmulator::mode() const
{
    QFile file(m_dir.filePath(QStringLiteral("mode")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

void cOrvikEmulator::setFault(const QString &fault)
{
    writeAtomically(m_dir.filePath(QStringLiteral("fault")), fault.toUtf8() + '\n');
}

bool cOrvikEmulator::waitForRestartIntoApplication(int ms) const
{
    return QTest::qWaitFor([this] { return mode() == QLatin1String("run"); }, ms);
}

void cOrvikEmulator::enterBootloader(int afterMs)
{
    writeAtomically(m_dir.filePath(QStringLiteral("appears-at")),
                    QByteArray::number(QDateTime::currentMSecsSinceEpoch() + afterMs) + '\n');
    setMode(QStringLiteral("bootloader"));
}

void cOrvikEmulator::bindDriverAfter(int ms)
{
    writeAtomically(m_dir.filePath(QStringLiteral("driver-at")),
                    QByteArray::number(QDateTime::currentMSecsSinceEpoch() + ms) + '\n');
}

void cOrvikEmulator::holdDownloads()
{
    writeAtomically(m_dir.filePath(QStringLiteral("hold")), QByteArray());
}

bool cOrvikEmulator::waitForHeldDownload(int ms) const
{
    return QTest::qWaitFor(
        [this] { return QFile::exists(m_dir.filePath(QStringLiteral("started"))); }, ms);
}

void cOrvikEmulator::release()
{
    writeAtomically(m_dir.filePath(QStringLiteral("go")), QByteArray());
}

void cOrvikEmulator::setTiming(int eraseMsPerKib, int writeMsPerBlock)
{
    writeAtomically(m_dir.filePath(QStringLiteral("timing")),
                    QByteArray::number(eraseMsPerKib) + ' ' + QByteArray::number(writeMsPerBlock));
}

qint64 cOrvikEmulator::timeOf(const char *stamp) const
{
    QFile file(m_dir.filePath(QLatin1String(stamp)));
    bool ok = false;
    const qint64 ms = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong(&ok) : 0;
    return ok ? ms : -1;
}

QByteArray cOrvikEmulator::flash() const
{
    QFile file(m_dir.filePath(QStringLiteral("flash.bin")));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void cOrvikEmulator::setFlash(const QByteArray &content)
{
    writeAtomically(m_dir.filePath(QStringLiteral("flash.bin")), content);
}

QStringList cOrvikEmulator::events() const
{
    QFile file(m_dir.filePath(QStringLiteral("events")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<QStringList> cOrvikEmulator::calls() const
{
    return cFakeTool::readCalls(m_dir.filePath(QStringLiteral("calls")));
}
