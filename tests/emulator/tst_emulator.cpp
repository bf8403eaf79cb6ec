// Drives the real flashing tool through the emulated bootloader: Debian's dfu-util on Linux,
// the tool built from its source on Windows.
#include "cExpected.h"
#include "cOrvikEmulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kDevices = QStringLiteral("483:0,483:df11");
const QString kFoundLine =
    QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, path=\"1-1\", "
                   "alt=0, name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\"");
const QString kAccessError = cExpected::toolWarning(
    "Cannot open DFU device 0483:df11 found on devnum 5 (LIBUSB_ERROR_ACCESS)\n");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Contents an image never matches, with cleared bits that an unerased sector would keep.
QByteArray pattern()
{
    QByteArray bytes(cOrvikEmulator::kFlashSize, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(((i * 7) ^ (i >> 9)) & 0x5a);
    return bytes;
}

QByteArray image(int size)
{
    QRandomGenerator random(static_cast<quint32>(size));
    QByteArray bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

bool allErased(const QByteArray &bytes)
{
    return bytes.count('\xff') == bytes.size();
}

QStringList eventsStartingWith(const QStringList &events, const QString &prefix)
{
    return events.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix)));
}
} // namespace

class tst_Emulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void listing_data();
    void listing();
    void download_data();
    void download();
    void faults_data();
    void faults();
    void upload();

private:
    Run runTool(const QStringList &arguments);
    QString writeImage(const QByteArray &bytes);

    QScopedPointer<QTemporaryDir> m_work;
};

void tst_Emulator::init()
{
    if (!cOrvikEmulator::toolAvailable())
        QSKIP("the flashing tool for the emulated device is missing (Debian package dfu-util)");
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    QVERIFY(cOrvikEmulator::installTool(m_work->path()));
}

Run tst_Emulator::runTool(const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_work->path());
    process.start(cExpected::toolIn(m_work->path()), arguments);
    Run run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
#ifdef Q_OS_WIN
    // The Windows tool writes in text mode; what the updater makes of its CR LF is checked in
    // tst_endtoend. This suite is about the device.
    run.out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    run.err.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
#endif
    return run;
}

QString tst_Emulator::writeImage(const QByteArray &bytes)
{
    QFile file(m_work->filePath(QStringLiteral("image.bin")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

void tst_Emulator::listing_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("err");

    QTest::newRow("bootloader") << "bootloader"
                                << "none" << true << "";
    QTest::newRow("application running") << "run"
                                         << "none" << false << "";
    QTest::newRow("never switched") << ""
                                    << "none" << false << "";
    QTest::newRow("no permission") << "bootloader"
                                   << "access" << false << kAccessError;
}

void tst_Emulator::listing()
{
    QFETCH(QString, mode);
    QFETCH(QString, fault);
    QFETCH(bool, listed);
    QFETCH(QString, err);
    cOrvikEmulator emulator;
    QVERIFY(emulator.isValid());
    if (!mode.isEmpty())
        emulator.setMode(mode);
    emulator.setFault(fault);

    const Run run = runTool({QStringLiteral("-l")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.startsWith(QStringLiteral("dfu-util 0.11\n")), qPrintable(run.out));
    QCOMPARE(run.out.count(QStringLiteral("Found DFU: ")), listed ? 1 : 0);
    if (listed)
        QVERIFY2(run.out.contains(kFoundLine), qPrintable(run.out));
    QCOMPARE(run.err, err);
}

void tst_Emulator::download_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("erases");
    QTest::addColumn<int>("erasedEnd");

    const QStringList firstSectors = {"erase 0x08000000", "erase 0x08004000", "erase 0x08008000",
                                      "erase 0x0800c000"};
    QTest::newRow("64 KiB, whole 16 KiB sectors")
        << "0x08000000:leave" << 0 << 0x10000 << firstSectors << 0x10000;
    QTest::newRow("100000 bytes, ends inside the 64 KiB sector")
        << "0x08000000:leave" << 0 << 100000 << firstSectors + QStringList{"erase 0x08010000"}
        << 0x20000;
    QTest::newRow("70000 bytes at 0x08010000")
        << "0x08010000:leave" << 0x10000 << 70000
        << QStringList{"erase 0x08010000", "erase 0x08020000"} << 0x40000;
    QTest::newRow("mass erase") << "0x08000000:mass-erase:force:leave" << 0 << 100000
                                << QStringList{"mass-erase"} << cOrvikEmulator::kFlashSize;
}

void tst_Emulator::download()
{
    QFETCH(QString, options);
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(QStringList, erases);
    QFETCH(int, erasedEnd);
    cOrvikEmulator emulator;
    QVERIFY(emulator.isValid());
    emulator.startInBootloader();
    const QByteArray before = pattern();
    emulator.setFlash(before);
    const QByteArray bytes = image(size);
    const QString file = writeImage(bytes);
    QVERIFY(!file.isEmpty());

    const Run run = runTool({"-d", kDevices, "-a", "0", "-s", options, "-D", file});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(emulator.waitForRestartIntoApplication(10000));

    const QByteArray flash = emulator.flash();
    QCOMPARE(flash.size(), cOrvikEmulator::kFlashSize);
    const int erasedStart = erases.first() == QLatin1String("mass-erase") ? 0 : offset;
    QVERIFY(flash.left(erasedStart) == before.left(erasedStart));
    QVERIFY(flash.mid(offset, size) == bytes);
    QVERIFY(allErased(flash.mid(offset + size, erasedEnd - offset - size)));
    QVERIFY(flash.mid(erasedEnd) == before.mid(erasedEnd));

    const QStringList events = emulator.events();
    QCOMPARE(eventsStartingWith(events, "erase ") + eventsStartingWith(events, "mass-erase"),
             erases);
    QCOMPARE(eventsStartingWith(events, "download block ").size(), (size + 2047) / 2048);
    QCOMPARE(events.last(), QStringLiteral("leave"));

    const QString total = QStringLiteral("%1 bytes").arg(size, 12);
    QVERIFY2(run.out.contains("\rErase   \t[=========================] 100% " + total),
             qPrintable(run.out));
    QVERIFY(run.out.contains("\rDownload\t[=========================] 100% " + total));
    QVERIFY(run.out.contains("\nErase    done.\n"));
    QVERIFY(run.out.contains("\nDownload done.\n"));
    QVERIFY(run.out.endsWith("Submitting leave request...\nTransitioning to dfuMANIFEST state\n"));
    QCOMPARE(run.err, cExpected::toolWarning("Warning: Invalid DFU suffix signature\n") +
                          cExpected::toolWarning("A valid DFU suffix will be required in a future "
                                                 "dfu-util release\n"));
}

void tst_Emulator::faults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("modeAfter");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("erasedEnd");
    QTest::addColumn<int>("minimumMs");

    // Images of 64 KiB: four 16 KiB sectors, 32 blocks.
    QTest::newRow("no device") << "run"
                               << "none" << 74
                               << cExpected::toolWarning("No DFU capable USB device available\n")
                               << ""
                               << "run" << 0 << 0 << 0;
    QTest::newRow("access") << "bootloader"
                            << "access" << 74 << kAccessError << ""
                            << "bootloader" << 0 << 0 << 0;
    QTest::newRow("erase-stall") << "bootloader"
                                 << "erase-stall" << 74
                                 << cExpected::toolWarning(
                                        "Error during special command \"ERASE_PAGE\" get_status\n")
                                 << ""
                                 << "bootloader" << 0 << 0 << 0;
    QTest::newRow("erase-error")
        << "bootloader"
        << "erase-error" << 76
        << "DFU state(10) = dfuERROR, status(4) = Memory erase function failed\n" +
               cExpected::toolWarning("Wrong state after command \"ERASE_PAGE\" download\n")
        << "Erase   \t[                         ]   0%"
        << "bootloader" << 0 << 0 << 0;
    QTest::newRow("vanish-download")
        << "bootloader"
        << "vanish-download" << 74
        << cExpected::toolWarning("dfuse_download: libusb_control_transfer returned -4 "
                                  "(LIBUSB_ERROR_NO_DEVICE)\n") +
               cExpected::toolWarning("Error during download\n")
        << "Erase    done.\n"
        << "vanished" << 0x8000 << 0x10000 << 0;
    QTest::newRow("vanish-leave") << "bootloader"
                                  << "vanish-leave" << 74
                                  << cExpected::toolWarning("Error during download get_status\n")
                                  << "Download done.\nFile downloaded successfully\n"
                                     "Submitting leave request...\n"
                                  << "run" << 0x10000 << 0x10000 << 0;
    QTest::newRow("slow-erase") << "bootloader"
                                << "slow-erase" << 0 << ""
                                << "Transitioning to dfuMANIFEST state\n"
                                << "run" << 0x10000 << 0x10000 << 4 * 300;
}

void tst_Emulator::faults()
{
    QFETCH(QString, mode);
    QFETCH(QString, fault);
    QFETCH(int, exitCode);
    QFETCH(QString, err);
    QFETCH(QString, out);
    QFETCH(QString, modeAfter);
    QFETCH(int, written);
    QFETCH(int, erasedEnd);
    QFETCH(int, minimumMs);
    cOrvikEmulator emulator;
    QVERIFY(emulator.isValid());
    emulator.setMode(mode);
    emulator.setFault(fault);
    const QByteArray before = pattern();
    emulator.setFlash(before);
    const QByteArray bytes = image(0x10000);
    const QString file = writeImage(bytes);
    QVERIFY(!file.isEmpty());

    QElapsedTimer timer;
    timer.start();
    const Run run = runTool({"-d", kDevices, "-a", "0", "-s", "0x08000000:leave", "-D", file});
    // A lower bound only: the tool must have honoured the poll timeouts.
    QVERIFY(timer.elapsed() >= minimumMs);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(err), qPrintable(run.err));
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QCOMPARE(emulator.mode(), modeAfter);

    const QByteArray flash = emulator.flash();
    QVERIFY(flash.left(written) == bytes.left(written));
    QVERIFY(allErased(flash.mid(written, erasedEnd - written)));
    QVERIFY(flash.mid(qMax(written, erasedEnd)) == before.mid(qMax(written, erasedEnd)));
    QCOMPARE(eventsStartingWith(emulator.events(), "download block ").size(), written / 2048);
}

void tst_Emulator::upload()
{
    cOrvikEmulator emulator;
    QVERIFY(emulator.isValid());
    emulator.startInBootloader();
    const QByteArray before = pattern();
    emulator.setFlash(before);
    const QString file = m_work->filePath(QStringLiteral("read.bin"));

    const Run run = runTool({"-d", kDevices, "-a", "0", "-s", "0x08004000:5000", "-U", file});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QFile read(file);
    QVERIFY(read.open(QIODevice::ReadOnly));
    QVERIFY(read.readAll() == before.mid(0x4000, 5000));
    QCOMPARE(emulator.mode(), QStringLiteral("bootloader"));
    QCOMPARE(emulator.events(), QStringList{"set-address 0x08004000"});
}

QTEST_GUILESS_MAIN(tst_Emulator)
#include "tst_emulator.moc"
