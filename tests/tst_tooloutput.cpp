#include "cExpected.h"
#include "cToolOutput.h"

#include <QtTest>

namespace {
// One progress record as the tool prints it: "\r%s\t[%s] %3d%% %12d bytes".
const auto record = cExpected::record;
const char *const kErase = "Erase   ";
const char *const kDownload = "Download";
} // namespace

class tst_ToolOutput : public QObject
{
    Q_OBJECT

private slots:
    void overallPercentage_data();
    void overallPercentage();
    void phaseMapping_data();
    void phaseMapping();
    void wholeRecords_data();
    void wholeRecords();
    void decoding_data();
    void decoding();
    void listsBootloader_data();
    void listsBootloader();
    void droppedOffAtLeave_data();
    void droppedOffAtLeave();
    void devicePair_data();
    void devicePair();
};

void tst_ToolOutput::overallPercentage_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<int>("overall");

    QTest::newRow("download 40") << QByteArray(
                                        "\rDownload\t[==========               ]  40%  400 bytes")
                                 << 70;
    QTest::newRow("erase 13") << QByteArray(
                                     "\rErase   \t[===                      ]  13%  130 bytes")
                              << 6;
    QTest::newRow("erase 100") << QByteArray(
                                      "\rErase   \t[=========================] 100%  999 bytes")
                               << 50;
    QTest::newRow("download one digit")
        << QByteArray("\rDownload\t[=                        ]   5%   50 bytes") << 52;
    QTest::newRow("erase 1 shows nothing")
        << QByteArray("\rErase   \t[                         ]   1%   10 bytes") << 0;
    QTest::newRow("several records, last counts")
        << QByteArray("\rDownload\t[==========               ]  40%  400 bytes"
                      "\rDownload\t[===========              ]  45%  450 bytes")
        << 72;
    QTest::newRow("record cut before %")
        << QByteArray("\rDownload\t[===========              ]  4") << 0;
    QTest::newRow("rest of a cut record") << QByteArray("5%  450 bytes") << 0;
    QTest::newRow("both phases, download last")
        << QByteArray("\rErase   \t[=========================] 100%  999 bytes\nErase done\n"
                      "Download\t[                         ]   0%    0 bytes")
        << 50;
    QTest::newRow("both keywords, erase % last")
        << QByteArray(
               "\rErase   \t[=========================] 100%  999 bytes\nErase done\nDownload\t[")
        << 100;
    QTest::newRow("download without number") << QByteArray("Download n/a%") << 50;
    QTest::newRow("erase without number") << QByteArray("Erase n/a%") << 0;
    QTest::newRow("lower-case keyword") << QByteArray("download 40%") << 0;
    QTest::newRow("blank before %") << QByteArray("Download [====] 40 %") << 70;
    QTest::newRow("number glued to bar") << QByteArray("Download [====]40%") << 70;
    QTest::newRow("letter in window") << QByteArray("Download 7%") << 50;
    QTest::newRow("above 100 not clamped") << QByteArray("Download [====] 150%") << 125;
    QTest::newRow("negative number") << QByteArray("Erase [====] -40%") << -20;
    QTest::newRow("no percent sign")
        << QByteArray("Downloading element to address = 0x08000000") << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("white space only") << QByteArray(" \r\n\t ") << 0;
    QTest::newRow("zero byte ends the chunk")
        << QByteArray("\rDownload\t[==========               ]  40%\0 99%", 48) << 70;
    QTest::newRow("starts with zero byte") << QByteArray("\0Download 99%", 13) << 0;
    QTest::newRow("address line then erase record")
        << QByteArray("Downloading element to address = 0x08000000, size = 65536\n") +
               record(kErase, 0, 0)
        << 50;
    QTest::newRow("invalid UTF-8 in window") << QByteArray("Download [====]\xff\xfe%") << 50;
}

void tst_ToolOutput::overallPercentage()
{
    QFETCH(QByteArray, chunk);
    QFETCH(int, overall);
    QCOMPARE(cToolOutput::overallPercentage(cToolOutput::decodeUtf8(chunk)), overall);
}

// Every value the tool can print, in the exact record layout, for both phases.
void tst_ToolOutput::phaseMapping_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<int>("overall");
    for (int percent = 0; percent <= 100; ++percent) {
        QTest::addRow("erase %d", percent) << record(kErase, percent, percent * 10) << percent / 2;
        QTest::addRow("download %d", percent)
            << record(kDownload, percent, percent * 10) << percent / 2 + 50;
    }
}

void tst_ToolOutput::phaseMapping()
{
    QFETCH(QByteArray, chunk);
    QFETCH(int, overall);
    QCOMPARE(chunk.size(), 61);
    QCOMPARE(cToolOutput::overallPercentage(cToolOutput::decodeUtf8(chunk)), overall);
}

// What is parsed of each chunk: whole records; an unfinished one waits for the next chunk.
void tst_ToolOutput::wholeRecords_data()
{
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QStringList>("records"); // each in one parsed part, whole
    QTest::addColumn<QString>("held");        // not parsed yet after the last chunk

    const QString first =
        QStringLiteral("\rErase   \t[==                       ]  10%       2048 bytes");
    const QString second =
        QStringLiteral("\rErase   \t[=====                    ]  20%       4096 bytes");
    QTest::newRow("whole record") << QStringList{first} << QStringList{first} << QString();
    QTest::newRow("record in three chunks")
        << QStringList{first.left(20), first.mid(20, 20), first.mid(40)} << QStringList{first}
        << QString();
    QTest::newRow("whole record, then the start of the next")
        << QStringList{first + second.left(30)} << QStringList{first} << second.left(30);
    QTest::newRow("a line is whole at its line end")
        << QStringList{"Erase    d", "one.\r\n", "\rDownload\t["} << QStringList{"Erase    done."}
        << QStringLiteral("\rDownload\t[");
    // As the Windows tool's records arrive: a few bytes at a time.
    QStringList pieces;
    const QString stream = first + "\r\nErase    done.\r\n" + second;
    for (int at = 0; at < stream.size(); at += 3)
        pieces << stream.mid(at, 3);
    QTest::newRow("three bytes a chunk")
        << pieces << QStringList{first, "Erase    done.", second} << QString();
}

void tst_ToolOutput::wholeRecords()
{
    QFETCH(QStringList, chunks);
    QFETCH(QStringList, records);
    QFETCH(QString, held);
    QString pending;
    QStringList parts;
    for (const QString &chunk : chunks)
        parts << cToolOutput::takeWholeRecords(pending, chunk);
    QCOMPARE(pending, held);
    // Nothing is lost or parsed twice.
    QCOMPARE(parts.join(QString()) + pending, chunks.join(QString()));
    for (const QString &record : records) {
        QVERIFY2(std::any_of(parts.begin(), parts.end(),
                             [&](const QString &part) { return part.contains(record); }),
                 qPrintable(record));
    }
}

void tst_ToolOutput::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("utf8");
    QTest::addColumn<QString>("latin1");

    QTest::newRow("plain") << QByteArray("a\r\tb\n") << QStringLiteral("a\r\tb\n")
                           << QStringLiteral("a\r\tb\n");
    QTest::newRow("zero byte") << QByteArray("ab\0cd", 5) << QStringLiteral("ab")
                               << QStringLiteral("ab");
    QTest::newRow("leading zero byte") << QByteArray("\0x", 2) << QString() << QString();
    QTest::newRow("non-ASCII") << QByteArray("\xc3\xa9") << QStringLiteral("\u00e9")
                               << QStringLiteral("\u00c3\u00a9");
    QTest::newRow("invalid UTF-8")
        << QByteArray("a\xff") << QStringLiteral("a\ufffd") << QStringLiteral("a\u00ff");
}

void tst_ToolOutput::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, utf8);
    QFETCH(QString, latin1);
    QCOMPARE(cToolOutput::decodeUtf8(bytes), utf8);
    QCOMPARE(cToolOutput::decodeLatin1(bytes), latin1);
}

void tst_ToolOutput::listsBootloader_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<bool>("found");

    const QByteArray banner = "dfu-util 0.11\n\nCopyright 2005-2009 Weston Schmidt, Harald Welte "
                              "and OpenMoko Inc.\n\n";
    QTest::newRow("bootloader listed")
        << banner + "Found DFU: [0483:df11] ver=2200, devnum=5, cfg=1, intf=0, path=\"1-1\", "
                    "alt=0, name=\"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg\"\n"
        << true;
    QTest::newRow("banner only") << banner << false;
    QTest::newRow("upper case") << QByteArray("Found DFU: [0483:DF11]") << false;
    QTest::newRow("after zero byte") << QByteArray("x\0Found DFU: [0483:df11]", 24) << false;
    QTest::newRow("run-time device only") << QByteArray("Found Runtime: [0483:5740]") << false;
    QTest::newRow("bare id") << QByteArray("483:df11") << true;
    QTest::newRow("empty") << QByteArray() << false;
}

void tst_ToolOutput::listsBootloader()
{
    QFETCH(QByteArray, listing);
    QFETCH(bool, found);
    QCOMPARE(cToolOutput::listsBootloader(listing), found);
}

// A whole image written, the bootloader gone at the leave request: told apart from every
// other failure by the exit code, the order of the output's last lines and the last error.
void tst_ToolOutput::droppedOffAtLeave_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QByteArray>("errors");
    QTest::addColumn<bool>("dropped");

    const QString written = QStringLiteral("Erase    done.\n") +
                            QString::fromLatin1(record(kDownload, 100, 4096)) +
                            QStringLiteral("\nDownload done.\nFile downloaded successfully\n");
    const QString left = written + QStringLiteral("Submitting leave request...\n");
    const QByteArray warnings = "dfu-util: Warning: Invalid DFU suffix signature\n"
                                "dfu-util: A valid DFU suffix will be required in a future "
                                "dfu-util release\n";
    const QByteArray lost = warnings + "dfu-util: Error during download get_status\n";
    QTest::newRow("left at the leave request") << 74 << left << lost << true;
    QTest::newRow("Windows' tool: CR LF, no name before the error")
        << 74 << QString(left).replace(QStringLiteral("\n"), QStringLiteral("\r\n"))
        << QByteArray("Warning: Invalid DFU suffix signature\r\n"
                      "Error during download get_status\r\n")
        << true;
    QTest::newRow("leave answered: exit 0") << 0 << left + "Transitioning to dfuMANIFEST state\n"
                                            << warnings << false;
    QTest::newRow("same text, exit 1") << 1 << left << lost << false;
    QTest::newRow("drop-off during the download")
        << 74 << QString::fromLatin1(record(kDownload, 40, 1638)) << lost << false;
    QTest::newRow("written, no leave request") << 74 << written << lost << false;
    QTest::newRow("leave request before the download's end")
        << 74 << QStringLiteral("Submitting leave request...\nFile downloaded successfully\n")
        << lost << false;
    QTest::newRow("another error after the status request")
        << 74 << left << lost + "dfu-util: Wrong state after command\n"
        << false;
    QTest::newRow("status error on standard output only")
        << 74 << left + "Error during download get_status\n"
        << warnings << false;
}

void tst_ToolOutput::droppedOffAtLeave()
{
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QByteArray, errors);
    QFETCH(bool, dropped);
    QCOMPARE(cToolOutput::droppedOffAtLeave(exitCode, output, errors), dropped);
}

void tst_ToolOutput::devicePair_data()
{
    QTest::addColumn<int>("productId");
    QTest::addColumn<QString>("pair");
    QTest::newRow("0x5740") << 0x5740 << QStringLiteral("483:5740,483:df11");
    QTest::newRow("0xA44B") << 0xA44B << QStringLiteral("483:a44b,483:df11");
    QTest::newRow("none") << 0 << QStringLiteral("483:0,483:df11");
}

void tst_ToolOutput::devicePair()
{
    QFETCH(int, productId);
    QFETCH(QString, pair);
    QCOMPARE(cToolOutput::devicePair(static_cast<quint16>(productId)), pair);
}

QTEST_APPLESS_MAIN(tst_ToolOutput)
#include "tst_tooloutput.moc"
