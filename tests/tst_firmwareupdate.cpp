#include "cExpected.h"
#include "cFakeTool.h"
#include "cFirmwareUpdate.h"
#include "cStdoutCapture.h"

#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

namespace {
const QString kUpdating = cExpected::updating;
const QString kNoDevice = cExpected::noDevice;
const QString kListing = cFakeTool::bootloaderListed;
const auto progressText = cExpected::progress;
const auto flashArguments = cExpected::flashArguments;

// An image of "size" bytes whose vector table starts with these two words.
QByteArray imageWith(quint32 stackPointer, quint32 resetVector, int size = 4096)
{
    QByteArray bytes = cExpected::image(size);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = char(stackPointer >> (8 * i));
        bytes[4 + i] = char(resetVector >> (8 * i));
    }
    return bytes;
}

const auto record = cExpected::record;

QString chunk(const QByteArray &bytes)
{
    return QStringLiteral("chunk ") + cFakeTool::escape(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The log for this output and error (both UTF-8), as a text stream writes it: in the
// locale's encoding, and on Windows with each line feed as CR LF.
QByteArray expectedLog(const QByteArray &output, const QByteArray &error)
{
    const QByteArray rule = QByteArray(37, '-');
    const QByteArray text =
        rule + "\nOutput:\n" + output + "\n" + rule + "\nError:\n" + error + "\n" + rule + "\n";
    return cExpected::textMode(QString::fromUtf8(text).toLocal8Bit());
}

// A file system of a few KiB on a folder, for as long as it lives; needs root (or nothing
// is mounted).
class cSmallDisk
{
public:
    cSmallDisk() = default;
    ~cSmallDisk()
    {
#ifdef Q_OS_LINUX
        if (!m_folder.isEmpty())
            ::umount2(m_folder.constData(), MNT_DETACH);
#endif
    }
    cSmallDisk(const cSmallDisk &) = delete;
    cSmallDisk &operator=(const cSmallDisk &) = delete;

    void mount(const QString &folder, int bytes)
    {
#ifdef Q_OS_LINUX
        const QByteArray path = QFile::encodeName(folder);
        const QByteArray options = "size=" + QByteArray::number(bytes);
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) == 0)
            m_folder = path;
#else
        Q_UNUSED(folder)
        Q_UNUSED(bytes)
#endif
    }
    bool isMounted() const
    {
        return !m_folder.isEmpty();
    }

private:
    QByteArray m_folder;
};

// Everything an update object announces, in order, with the text it showed.
struct cEventLog
{
    // A list compared whole reports only its size on a mismatch; this names the events.
    QByteArray text() const { return events.join(QStringLiteral(" | ")).toUtf8(); }

    explicit cEventLog(cFirmwareUpdate &update)
    {
        QObject::connect(&update, &cFirmwareUpdate::statusInfoChanged, &update, [this, &update] {
            events << QStringLiteral("status:") + update.statusInfo();
        });
        QObject::connect(&update, &cFirmwareUpdate::UpdateComplete, &update, [this](bool success) {
            events << QStringLiteral("complete:%1").arg(success ? "true" : "false");
            ++completions;
        });
    }
    QStringList events;
    int completions = 0;
};
} // namespace

class tst_FirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toolMissing();
    void imageCheck_data();
    void imageCheck();
    void probe_data();
    void probe();
    void probeThatNeverEnds();
    void progressReports_data();
    void progressReports();
    void exitCode_data();
    void exitCode();
    void updateLog_data();
    void updateLog();
    void logReplacesEarlierLog();
    void toolNotExecutable();
    void waitForProcess();
    void runOutlivesUpdater();
};

void tst_FirmwareUpdate::initTestCase()
{
    // The log's fallback folder must not be the user's own.
    QStandardPaths::setTestModeEnabled(true);
}

void tst_FirmwareUpdate::toolMissing()
{
    cFakeTool tool(cFakeTool::Placement::Missing);
    QVERIFY(tool.isValid());
    cFirmwareUpdate update(tool.filePath("fw.bin"), nullptr);
    cEventLog log(update);
    cStdoutCapture out;

    QVERIFY(!update.BeginUpdate());
    QCOMPARE(out.text(), QByteArray("Failed to find DFU Util\n"));
    QCOMPARE(log.events, QStringList{"status:Failed to find DFU Util"});
    QVERIFY(!update.findChild<QProcess *>());
    update.WaitForProcess();
    QCoreApplication::processEvents();
    QCOMPARE(log.completions, 0);
}

// Nothing that is no program for the device reaches it, and the device is not even asked.
void tst_FirmwareUpdate::imageCheck_data()
{
    // "<missing>", "<folder>", "<unreadable>": no file; "<named U+FFFD>": an image whose name
    // holds U+FFFD, "<named 0xff>": the same beside a web page whose name holds byte 0xff
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("refusal");        // empty: accepted and written
    QTest::addColumn<QByteArray>("replacement"); // put at the path once the check is done

    const QString accepted;
    const QByteArray none;
    const quint32 sp = 0x20020000;
    const quint32 reset = 0x080001c1;
    QTest::newRow("missing") << QByteArray("<missing>") << cExpected::cannotRead << none;
    QTest::newRow("folder") << QByteArray("<folder>") << cExpected::cannotRead << none;
    QTest::newRow("no permission") << QByteArray("<unreadable>") << cExpected::cannotRead << none;
    // The path picked may not be the file's name, but the image's beside it.
    QTest::newRow("name with U+FFFD")
        << QByteArray("<named U+FFFD>") << cExpected::cannotRead << none;
    QTest::newRow("name with a byte invalid in the encoding")
        << QByteArray("<named 0xff>") << cExpected::cannotRead << none;
    QTest::newRow("empty") << QByteArray() << cExpected::tooShort << none;
    QTest::newRow("7 bytes") << imageWith(sp, reset).left(7) << cExpected::tooShort << none;
    QTest::newRow("8 bytes") << imageWith(sp, 0x08000007, 8) << accepted << none;
    QTest::newRow("exactly 1 MiB") << imageWith(sp, reset, 1 << 20) << accepted << none;
    QTest::newRow("1 MiB + 1") << imageWith(sp, reset, (1 << 20) + 1) << cExpected::tooLarge
                               << none;
    QTest::newRow("web page") << QByteArray("<!DOCTYPE html>\n<html><head><title>fw</title>")
                              << cExpected::notForDevice << none;
    QTest::newRow("DfuSe container")
        << QByteArray("DfuSe\x01\x00\x10\x00\x00\x01", 11) << cExpected::notForDevice << none;
    QTest::newRow("Intel HEX") << QByteArray(":020000040800F2\n:10000000")
                               << cExpected::notForDevice << none;
    QTest::newRow("erased dump") << QByteArray(4096, '\xff') << cExpected::notForDevice << none;
    QTest::newRow("all zeros") << QByteArray(4096, '\0') << cExpected::notForDevice << none;
    // Written by a browser or a sync client while the device is being switched over.
    QTest::newRow("replaced by a web page after the check")
        << imageWith(sp, reset) << accepted
        << QByteArray("<html><body>404 Not Found</body></html>");
    QTest::newRow("replaced by a shorter image after the check")
        << imageWith(sp, reset) << accepted << imageWith(sp, reset, 512);
    // The stack pointer at each end of each RAM range, and the next word outside; it is
    // word-aligned, or the tool would take the first bytes for a vendor prefix and cut them.
    const struct
    {
        const char *name;
        quint32 value;
        bool ok;
    } stackPointers[] = {{"0x0ffffffc", 0x0ffffffc, false}, {"0x10000000", 0x10000000, true},
                         {"0x10010000", 0x10010000, true},  {"0x10010004", 0x10010004, false},
                         {"0x1ffffffc", 0x1ffffffc, false}, {"0x20000000", 0x20000000, true},
                         {"0x20080000", 0x20080000, true},  {"0x20080004", 0x20080004, false},
                         {"0x2001BF58", 0x2001BF58, true},  {"0x2001BF5A", 0x2001BF5A, false},
                         {"0x20003F1A", 0x20003F1A, false}, {"0x2007FFDA", 0x2007FFDA, false}};
    for (const auto &row : stackPointers)
        QTest::addRow("stack pointer %s", row.name)
            << imageWith(row.value, reset) << (row.ok ? accepted : cExpected::notForDevice) << none;
    // The reset vector: Thumb, and inside the 4096 bytes from the flash base.
    const struct
    {
        const char *name;
        quint32 value;
        bool ok;
    } resets[] = {{"even", 0x080001c0, false},
                  {"at the base", 0x08000001, true},
                  {"below the base", 0x07ffffff, false},
                  {"last byte", 0x08000fff, true},
                  {"just past the end", 0x08001001, false}};
    for (const auto &row : resets)
        QTest::addRow("reset vector %s", row.name)
            << imageWith(sp, row.value) << (row.ok ? accepted : cExpected::notForDevice) << none;
}

void tst_FirmwareUpdate::imageCheck()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    QFETCH(QByteArray, replacement);

    cFakeTool tool;
    QVERIFY(tool.isValid());
    QStringList listing{kListing};
    // The listing runs after the check: as late as a replacement can come, and later.
    if (!replacement.isNull())
        listing << "write fw.bin " + cFakeTool::escape(replacement);
    tool.setScript(listing, {"exit 0"});
    QString firmware = tool.filePath("fw.bin");
#ifdef Q_OS_UNIX
    // A name no QString holds, which the temporary folder's clean-up cannot remove.
    QByteArray rawName;
    const auto removeRawName = qScopeGuard([&rawName] {
        if (!rawName.isEmpty())
            ::unlink(rawName.constData());
    });
#endif
    if (content.startsWith("<named ")) {
#ifndef Q_OS_UNIX
        QSKIP("Windows names files in UTF-16: the path picked is the file's own name");
#else
        firmware = tool.image(QStringLiteral("fw\uFFFD.bin"));
        if (content == "<named 0xff>") {
            // Picked by its decoded name, which is the image's.
            rawName = QFile::encodeName(tool.path()) + "/fw\xff.bin";
            if (QFile::decodeName(rawName) != firmware)
                QSKIP("the locale's encoding takes byte 0xff for a character of its own");
            QFile page;
            QVERIFY(page.open(::open(rawName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600),
                              QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
            QVERIFY(page.write("<!DOCTYPE html>\n<html><head><title>fw</title>") > 0);
        }
#endif
    } else if (content == "<folder>") {
        QVERIFY(QDir().mkpath(firmware));
    } else if (content != "<missing>") {
        QFile file(firmware);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content == "<unreadable>" ? cExpected::image(4096) : content);
        file.close();
        if (content == "<unreadable>") {
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
            if (file.open(QIODevice::ReadOnly))
                QSKIP("this user reads the file all the same (root; on Windows only the "
                      "read-only attribute can be set)");
        }
    }
    cFirmwareUpdate update(firmware, nullptr);
    cEventLog log(update);
    cStdoutCapture out;

    if (refusal.isEmpty()) {
        QVERIFY(update.BeginUpdate());
        QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
        const QStringList call = tool.calls().value(1);
        QCOMPARE(cExpected::withCopy({call}).value(0), flashArguments("483:0,483:df11"));
        // Written as checked, from a copy of this user's only, gone once the run has ended.
        QCOMPARE(tool.flashedImage(), content);
        QVERIFY(!QFile::exists(call.value(7)));
#ifdef Q_OS_UNIX
        QCOMPARE(QFileInfo(cImageCopy::folder()).permissions() & 0x0077, QFile::Permissions());
#endif
        QCOMPARE(readFile(firmware), replacement.isNull() ? content : replacement);
        return;
    }
    QVERIFY(!update.BeginUpdate());
    QCOMPARE(log.events, QStringList{"status:" + refusal});
    QCOMPARE(out.text(), refusal.toUtf8() + '\n');
    // Not even the listing ran; nothing can end this attempt later.
    QCOMPARE(tool.calls(), QList<QStringList>());
    QVERIFY(!update.findChild<QProcess *>());
    QVERIFY(!QFile::exists(tool.filePath("fw.OrvikUpdater.log")));
    QCoreApplication::processEvents();
    QCOMPARE(log.completions, 0);
}

// No serial port of the device here: the listing decides.
void tst_FirmwareUpdate::probe_data()
{
    QTest::addColumn<QStringList>("listing");
    QTest::addColumn<bool>("started");

    QTest::newRow("bootloader listed") << QStringList{kListing, "exit 0"} << true;
    QTest::newRow("listed, but the listing fails") << QStringList{kListing, "exit 74"} << true;
    QTest::newRow("banner only") << QStringList{"out dfu-util 0.11\\n\\nCopyright 2005-2009\\n\\n"}
                                 << false;
    QTest::newRow("upper-case id") << QStringList{"out Found DFU: [0483:DF11]\\n"} << false;
    QTest::newRow("id on standard error only")
        << QStringList{"err Found DFU: [0483:df11]\\n"} << false;
    QTest::newRow("id after a zero byte") << QStringList{"out x\\0Found DFU: [0483:df11]"} << false;
    QTest::newRow("listing crashes") << QStringList{"out [0483:df11]", "crash"} << true;
}

void tst_FirmwareUpdate::probe()
{
    QFETCH(QStringList, listing);
    QFETCH(bool, started);

    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript(listing, {"exit 0"});
    const QString firmware = tool.image("fw.bin");
    cFirmwareUpdate update(firmware, nullptr);
    cEventLog log(update);
    cStdoutCapture out;

    QCOMPARE(update.BeginUpdate(), started);
    QCOMPARE(log.completions, 0);
    if (started) {
        // The unannounced "no device" text goes straight to the update text.
        QCOMPARE(log.events, QStringList{"status:" + kUpdating});
        QCOMPARE(out.text(), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
        QCOMPARE(cExpected::withCopy(tool.calls()),
                 (QList<QStringList>{{"-l"}, flashArguments("483:0,483:df11")}));
    } else {
        QCOMPARE(log.events, QStringList{"status:" + kNoDevice});
        QCOMPARE(out.text(), kNoDevice.toUtf8() + '\n');
        QCOMPARE(tool.calls(), QList<QStringList>{{"-l"}});
        QCoreApplication::processEvents();
        QCOMPARE(log.completions, 0);
    }
}

// A listing that does not end in time is ended, and the flashing run really runs:
// only its own end may decide the result.
void tst_FirmwareUpdate::probeThatNeverEnds()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing, "hang"}, {"out flashed", "err oops", "exit 3"});
    const QString firmware = tool.image("fw.bin");
    cFirmwareUpdate update(firmware, nullptr);
    cEventLog log(update);

    QVERIFY(update.BeginUpdate());
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
    QCOMPARE(log.events,
             (QStringList{"status:" + kUpdating, "status:Update failed", "complete:false"}));
    QCOMPARE(cExpected::withCopy(tool.calls()),
             (QList<QStringList>{{"-l"}, flashArguments("483:0,483:df11")}));
    QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")), expectedLog("flashed", "oops"));
}

void tst_FirmwareUpdate::progressReports_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("statuses");

    const QByteArray opening =
        "dfu-util 0.11\n\nOpening DFU capable USB device...\nDevice ID "
        "0483:df11\nDownloading element to address = 0x08000000, size = 65536\n";
    QTest::newRow("one record per chunk")
        << QList<QByteArray>{opening,
                             record("Erase   ", 0, 0),
                             record("Erase   ", 40, 26214),
                             record("Erase   ", 100, 65536),
                             "\nErase    done.\n",
                             record("Download", 0, 0),
                             record("Download", 52, 34078),
                             record("Download", 100, 65536),
                             "\nDownload done.\n"}
        << QStringList{progressText(20), progressText(50), progressText(50), progressText(76),
                       progressText(100)};
    QTest::newRow("several records and both phases in one chunk")
        << QList<QByteArray>{opening + record("Erase   ", 0, 0),
                             record("Erase   ", 8, 5000) + record("Erase   ", 84, 55000),
                             record("Erase   ", 100, 65536) + "\nErase    done.\n" +
                                 record("Download", 0, 0),
                             record("Download", 12, 8000) + record("Download", 16, 10000) +
                                 record("Download", 20, 13000)}
        << QStringList{progressText(50), progressText(42), progressText(50), progressText(60)};
    const QByteArray split = record("Download", 44, 28672);
    QTest::newRow("record split across chunks")
        << QList<QByteArray>{split.left(40), split.mid(40), record("Download", 48, 30000)}
        << QStringList{progressText(72), progressText(74)};
    // The Windows tool writes its records a few bytes at a time, and its lines end in CR LF.
    QByteArray stream = opening + record("Erase   ", 0, 0) + record("Erase   ", 40, 26214) +
                        record("Erase   ", 100, 65536) + "\r\nErase    done.\r\n" +
                        record("Download", 0, 0) + record("Download", 52, 34078) +
                        record("Download", 100, 65536) + "\r\nDownload done.\r\n";
    QList<QByteArray> pieces;
    for (int at = 0; at < stream.size(); at += 9)
        pieces << stream.mid(at, 9);
    QTest::newRow("a few bytes per chunk, CR LF")
        << pieces
        << QStringList{progressText(20), progressText(50), progressText(50), progressText(76),
                       progressText(100)};
    QTest::newRow("same value twice is shown twice")
        << QList<QByteArray>{record("Download", 60, 1), record("Download", 60, 1)}
        << QStringList{progressText(80), progressText(80)};
    QTest::newRow("zero byte ends a chunk")
        << QList<QByteArray>{record("Download", 40, 1) + QByteArray("\0 99%", 5)}
        << QStringList{progressText(70)};
}

void tst_FirmwareUpdate::progressReports()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, statuses);

    cFakeTool tool;
    QVERIFY(tool.isValid());
    QStringList flash;
    for (const QByteArray &bytes : chunks)
        flash << chunk(bytes);
    flash << "err dfu-util: Warning: Invalid DFU suffix signature\\n"
          << "exit 0";
    tool.setScript({kListing}, flash);
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);

    QVERIFY(update.BeginUpdate());
    QProcess *process = update.findChild<QProcess *>();
    QVERIFY(process);
    tool.acknowledgeChunks(process);
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);

    QStringList expected{"status:" + kUpdating};
    for (const QString &status : statuses)
        expected << "status:" + status;
    expected << "status:Update succeeded"
             << "complete:true";
    QVERIFY2(log.events == expected, log.text().constData());

    // The output log holds every chunk as text, up to a chunk's zero byte.
    QByteArray output;
    for (const QByteArray &bytes : chunks)
        output += bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
    QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")),
             expectedLog(output, "dfu-util: Warning: Invalid DFU suffix signature\n"));
}

// The exit code decides; a crash counts as a failure. A run that wrote the whole image and
// lost the bootloader at the leave request is decided by the Orvik's return: here it never
// shows, and the window says what to do.
void tst_FirmwareUpdate::exitCode_data()
{
    QTest::addColumn<QStringList>("flash");
    QTest::addColumn<QStringList>("statuses"); // after the update text
    QTest::addColumn<QByteArray>("printed");   // on standard output
    QTest::addColumn<QByteArray>("logged");    // the update log, if given

    const QStringList succeeded{"Update succeeded"};
    const QStringList failed{"Update failed"};
    QTest::newRow("0") << QStringList{"exit 0"} << succeeded << QByteArray() << QByteArray();
    QTest::newRow("1") << QStringList{"exit 1"} << failed << QByteArray() << QByteArray();
    QTest::newRow("74, no device")
        << QStringList{"exit 74"} << failed << QByteArray() << QByteArray();
    QTest::newRow("255") << QStringList{"exit 255"} << failed << QByteArray() << QByteArray();
    QTest::newRow("crash") << QStringList{"crash"} << failed << QByteArray() << QByteArray();
    const QString written = "out Download done.\\nFile downloaded successfully\\n"
                            "Submitting leave request...\\n";
    const QString statusLost = "err dfu-util: Error during download get_status\\n";
    QTest::newRow("74 after the leave request, the Orvik not back")
        << QStringList{written, statusLost, "exit 74"}
        << QStringList{"Restarting the Orvik...", cExpected::notRestarted}
        << cExpected::notRestarted.toUtf8() + '\n'
        << expectedLog(
               "Download done.\nFile downloaded successfully\nSubmitting leave request...\n",
               "dfu-util: Error during download get_status\n");
    QTest::newRow("the same, crashed")
        << QStringList{written, statusLost, "crash"} << failed << QByteArray() << QByteArray();
}

void tst_FirmwareUpdate::exitCode()
{
    QFETCH(QStringList, flash);
    QFETCH(QStringList, statuses);
    QFETCH(QByteArray, printed);
    QFETCH(QByteArray, logged);

    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, flash);
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);
    QByteArray output;
    {
        cStdoutCapture out;
        QVERIFY(update.BeginUpdate());
        QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
        output = out.text();
    }
    const bool success = statuses.last() == QLatin1String("Update succeeded");
    QStringList expected{"status:" + kUpdating};
    for (const QString &status : statuses)
        expected << "status:" + status;
    expected << QStringLiteral("complete:%1").arg(success ? "true" : "false");
    QVERIFY2(log.events == expected, log.text().constData());
    QCOMPARE(update.statusInfo(), statuses.last());
    QCOMPARE(output, printed);
    if (!logged.isNull())
        QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")), logged);
    update.WaitForProcess(); // no run left: returns at once
    QCoreApplication::processEvents();
    QCOMPARE(log.completions, 1);
}

void tst_FirmwareUpdate::updateLog_data()
{
    QTest::addColumn<QString>("firmware"); // relative to the working directory
    QTest::addColumn<QString>("logName");  // empty: no log at all; "*": the fallback log
    QTest::addColumn<QStringList>("flash");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("diskFull"); // the image's folder takes 4 KiB more, then no more

    const QStringList plain{"out Download done.\\n", "err dfu-util: A valid DFU suffix\\n"};
    const QByteArray plainLog = expectedLog("Download done.\n", "dfu-util: A valid DFU suffix\n");
    QTest::newRow("extension replaced") << "fw.bin"
                                        << "fw.OrvikUpdater.log" << plain << plainLog << false;
    QTest::newRow("no extension") << "firmware"
                                  << "firmwOrvikUpdater.log" << plain << plainLog << false;
    QTest::newRow("four characters") << "a.bi"
                                     << "aOrvikUpdater.log" << plain << plainLog << false;
    QTest::newRow("three characters") << "a.b"
                                      << "" << plain << QByteArray() << false;
    QTest::newRow("one character") << "a"
                                   << "" << plain << QByteArray() << false;
    // The log's name is longer than a file name may be; the image's is not.
    QTest::newRow("log name too long: application data folder")
        << QString(246, QLatin1Char('n')) + ".bin"
        << "*" << plain << plainLog << false;
    QTest::newRow("blanks, hash and non-ASCII")
        << "new fw #1 \u00e9\u20ac.bin"
        << "new fw #1 \u00e9\u20ac.OrvikUpdater.log" << plain << plainLog << false;
    QTest::newRow("nothing written")
        << "fw.bin"
        << "fw.OrvikUpdater.log" << QStringList() << expectedLog("", "") << false;
    QTest::newRow("zero bytes end each part")
        << "fw.bin"
        << "fw.OrvikUpdater.log" << QStringList{"out ok\\0hidden", "err bad\\0hidden"}
        << expectedLog("ok", "bad") << false;
    QTest::newRow("line ends kept, error as Latin-1")
        << "fw.bin"
        << "fw.OrvikUpdater.log" << QStringList{"out a\\r\\nb\\tc\\xc3\\xa9", "err \\xe9\\n"}
        << expectedLog("a\r\nb\tc\xc3\xa9", "\xc3\xa9\n") << false;
    // The audit found an empty log and no word on a full disk.
    const QByteArray longOutput(64 * 1024, 'x');
    QTest::newRow("disk full part-way: application data folder")
        << "full/fw.bin"
        << "*" << QStringList{"out " + QString::fromLatin1(longOutput)}
        << expectedLog(longOutput, "") << true;
    // More than a mebibyte of characters, with a character outside the BMP (two UTF-16
    // units) across that mark; each write arrives whole, so it is decoded as one.
    const QByteArray megaOutput(1024 * 1024 - 1, 'x');
    QTest::newRow("long output, a surrogate pair across 1 Mi characters")
        << "fw.bin"
        << "fw.OrvikUpdater.log"
        << QStringList{"out " + QString::fromLatin1(megaOutput), "out \\xf0\\x9f\\x8e\\xb5tail"}
        << expectedLog(megaOutput + "\xf0\x9f\x8e\xb5tail", "") << false;
}

void tst_FirmwareUpdate::updateLog()
{
    QFETCH(QString, firmware);
    QFETCH(QString, logName);
    QFETCH(QStringList, flash);
    QFETCH(QByteArray, content);
    QFETCH(bool, diskFull);

    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, flash + QStringList{"exit 1"});
    cSmallDisk disk;
    if (diskFull) {
        const QString folder = tool.filePath(QFileInfo(firmware).path());
        QVERIFY(QDir().mkpath(folder));
        disk.mount(folder, 8 * 1024);
        if (!disk.isMounted()) {
            // Without a file system of its own, the log goes to a device that refuses writes.
#ifdef Q_OS_UNIX
            QVERIFY(
                QFile::link("/dev/full", tool.filePath(firmware.chopped(3) + "OrvikUpdater.log")));
#else
            QSKIP("no small file system or full device to write the log into here");
#endif
        }
    }
    const QString fallback =
        QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
            .filePath("OrvikUpdater.log");
    QFile::remove(fallback);
    cFirmwareUpdate update(tool.image(firmware, 4096, false), nullptr);
    cEventLog log(update);
    cStdoutCapture out;

    QVERIFY(update.BeginUpdate());
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
    QCOMPARE(log.events.last(), QStringLiteral("complete:false"));
    // Blanks and all, the path led to the image.
    QCOMPARE(tool.flashedImage(), cExpected::image(4096));

    const QStringList logs =
        QDir(tool.path()).entryList({QStringLiteral("*OrvikUpdater.log")}, QDir::Files);
    if (logName == QLatin1String("*")) {
        QVERIFY2(logs.isEmpty(), qPrintable(logs.join(", ")));
        const QStringList partial =
            QDir(tool.filePath(QFileInfo(firmware).path()))
                .entryList({QStringLiteral("*OrvikUpdater.log")}, QDir::Files | QDir::System);
        QVERIFY2(partial.isEmpty(), qPrintable(partial.join(", ")));
        QCOMPARE(readFile(fallback), content);
        QCOMPARE(out.text(), "Update log written to " +
                                 QDir::toNativeSeparators(fallback).toLocal8Bit() + '\n');
        QFile::remove(fallback);
        return;
    }
    QCOMPARE(out.text(), QByteArray());
    if (logName.isEmpty()) {
        QVERIFY2(logs.isEmpty(), qPrintable(logs.join(", ")));
    } else {
        QCOMPARE(logs, QStringList{logName});
        QCOMPARE(readFile(tool.filePath(logName)), content);
    }
}

void tst_FirmwareUpdate::logReplacesEarlierLog()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, {"out new"});
    {
        QFile old(tool.filePath("fw.OrvikUpdater.log"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'x'));
    }
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);
    QVERIFY(update.BeginUpdate());
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
    QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")), expectedLog("new", ""));
}

// A tool that cannot be started still ends the attempt, once, as a failure,
// and never inside BeginUpdate.
void tst_FirmwareUpdate::toolNotExecutable()
{
    cFakeTool tool(cFakeTool::Placement::NotExecutable);
    QVERIFY(tool.isValid());
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);

    QVERIFY(update.BeginUpdate());
    QCOMPARE(log.completions, 0);
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
    QCOMPARE(log.events,
             (QStringList{"status:" + kUpdating, "status:Update failed", "complete:false"}));
    QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")), expectedLog("", ""));
    QTRY_VERIFY(!update.findChild<QProcess *>());
    QTest::qWait(50);
    QCOMPARE(log.completions, 1);
}

// At shutdown a running flashing run is awaited, and its end still reported.
void tst_FirmwareUpdate::waitForProcess()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, {"sleep 300", "out done", "exit 0"});
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);

    QVERIFY(update.BeginUpdate());
    update.WaitForProcess();
    QCOMPARE(log.completions, 1);
    QCOMPARE(log.events.last(), QStringLiteral("complete:true"));
    QCOMPARE(readFile(tool.filePath("fw.OrvikUpdater.log")), expectedLog("done", ""));
}

// Whatever ends the updater, the run goes on to its own end: the tool is out of reach of
// the updater's terminal and does not die writing into a pipe nobody reads.
void tst_FirmwareUpdate::runOutlivesUpdater()
{
#ifndef Q_OS_UNIX
    QSKIP("nothing to set on Windows, where a child outlives its parent anyway; tst_gui kills "
          "the updater of the Windows release mid-run under Wine");
#else
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, {"hang"});
    cFirmwareUpdate update(tool.image("fw.bin"), nullptr);
    cEventLog log(update);

    QVERIFY(update.BeginUpdate());
    auto *process = update.findChild<QProcess *>();
    QVERIFY(process && process->waitForStarted());
    const auto pid = static_cast<pid_t>(process->processId());
    QTRY_VERIFY(::getsid(pid) != ::getsid(0));
    QCOMPARE(::getsid(pid), pid);
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const QString ignored =
        QString::fromLatin1(status.readAll()).section("SigIgn:", 1).section('\n', 0, 0);
    QVERIFY2((ignored.trimmed().toULongLong(nullptr, 16) >> (SIGPIPE - 1)) & 1,
             qPrintable(ignored));

    process->kill();
    QTRY_COMPARE_WITH_TIMEOUT(log.completions, 1, 30000);
#endif
}

ORVIK_CAPTURING_TEST_MAIN(tst_FirmwareUpdate)
#include "tst_firmwareupdate.moc"
