#include "cFakeSerialPorts.h"

#include "cExpected.h"
#include "cDeviceAccess.h"
#include "cDevicePresence.h"
#include "cFakeTool.h"
#include "cFirmwareUpdate.h"
#include "cStdoutCapture.h"
#include "cUdevRules.h"

#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {
const QString kOpened = QStringLiteral("Succeeded opening port");
const QString kUpdating = cExpected::updating;
const QString kNoDevice = cExpected::noDevice;
const QString kInUse =
    QStringLiteral("Device already in use.\nClose all other apps connected to your Orvik device.");
const QString kConnection =
    QStringLiteral("Device connection failure.\nEnsure your cable is securely fitted.");
const QString kToolMissing = QStringLiteral("Failed to find DFU Util");
const QByteArray kUpdateModeCommand = cExpected::updateModeCommand;
const QString kUsbSerial = QStringLiteral("USB Serial Device");
const QString kOrvik = QStringLiteral("Mireltone Audio - Orvik");

PortEntry port(quint16 product, const QString &description, Fault fault = Fault::None)
{
    return {0x0483, product, description, fault};
}

const auto flashArguments = cExpected::flashArguments;
} // namespace

// One update attempt in a fresh tool directory, with its status texts and stdout.
class cAttempt
{
public:
    explicit cAttempt(cFakeTool::Placement placement = cFakeTool::Placement::Executable)
        : tool(placement), firmware(tool.image(QStringLiteral("app.bin"))),
          update(firmware, nullptr), complete(&update, &cFirmwareUpdate::UpdateComplete)
    {
        QObject::connect(&update, &cFirmwareUpdate::statusInfoChanged,
                         [this] { statuses << update.statusInfo(); });
    }

    // BeginUpdate with the process's standard output captured.
    bool begin()
    {
        cStdoutCapture capture;
        const bool result = update.BeginUpdate();
        printed = capture.text();
        return result;
    }

    cFakeTool tool;
    const QString firmware;
    cFirmwareUpdate update;
    QSignalSpy complete;
    QStringList statuses;
    QByteArray printed;
};

static QStringList listedPorts()
{
    QStringList names;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

class tst_SerialDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void serialPath_data();
    void serialPath();
    void noPortUsed_data();
    void noPortUsed();
    void toolMissing();
    void presence_data();
    void presence();
    void presenceFollowsPorts();

private:
    static void verifyUntouched(const cFakeSerialPorts &ports, int index);
};

void tst_SerialDiscovery::initTestCase()
{
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("umockdev")))
        QSKIP("needs umockdev's preload library: run under umockdev-wrapper");
    qRegisterMetaType<PortEntry>();
}

void tst_SerialDiscovery::verifyUntouched(const cFakeSerialPorts &ports, int index)
{
    QCOMPARE(ports.seen(index).writes, 0);
    QCOMPARE(ports.received(index, 0), QByteArray());
}

void tst_SerialDiscovery::serialPath_data()
{
    QTest::addColumn<QVector<PortEntry>>("entries");
    QTest::addColumn<int>("used");
    QTest::addColumn<QString>("pair");
    const QString pair5740 = QStringLiteral("483:5740,483:df11");
    const QString pairA44b = QStringLiteral("483:a44b,483:df11");
    QTest::newRow("5740, USB Serial Device")
        << QVector<PortEntry>{port(0x5740, kUsbSerial)} << 0 << pair5740;
    QTest::newRow("5740, Orvik") << QVector<PortEntry>{port(0x5740, kOrvik)} << 0 << pair5740;
    QTest::newRow("a44b, USB Serial Device")
        << QVector<PortEntry>{port(0xA44B, kUsbSerial)} << 0 << pairA44b;
    QTest::newRow("a44b, Orvik") << QVector<PortEntry>{port(0xA44B, kOrvik)} << 0 << pairA44b;
    QTest::newRow("two free, first used")
        << QVector<PortEntry>{port(0xA44B, kOrvik), port(0x5740, kUsbSerial)} << 0 << pairA44b;
    // A port held by another program is passed over without a word.
    QTest::newRow("5740 held, a44b used")
        << QVector<PortEntry>{port(0x5740, kUsbSerial, Fault::Held), port(0xA44B, kOrvik)} << 1
        << pairA44b;
    QTest::newRow("a44b held, 5740 used")
        << QVector<PortEntry>{port(0xA44B, kOrvik, Fault::Held), port(0x5740, kUsbSerial)} << 1
        << pair5740;
}

void tst_SerialDiscovery::serialPath()
{
    QFETCH(QVector<PortEntry>, entries);
    QFETCH(int, used);
    QFETCH(QString, pair);
    cFakeSerialPorts ports(entries);
    QCOMPARE(listedPorts(), ports.names());
    cAttempt attempt;
    QVERIFY(attempt.tool.isValid());
    attempt.tool.setScript({cFakeTool::bootloaderListed}, {});
    forgetRequestedSettings();
    QVERIFY(attempt.begin());
    QCOMPARE(attempt.printed, kOpened.toUtf8() + '\n');
    QCOMPARE(attempt.statuses, (QStringList{kOpened, kUpdating}));

    QCOMPARE(ports.received(used, kUpdateModeCommand.size()), kUpdateModeCommand);
    const WriteSeen seen = ports.seen(used);
    QCOMPARE(seen.writes, 1);
    // One speed field on Linux: it serves both directions.
    QCOMPARE(cfgetospeed(&seen.line), speed_t(B921600));
    QCOMPARE(seen.line.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(seen.line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QVERIFY(!seen.asked.isEmpty());
    for (const termios &tio : seen.asked) {
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & PARENB, tcflag_t(0));
    }
    for (int i = 0; i < entries.size(); ++i) {
        if (i != used)
            verifyUntouched(ports, i);
    }

    QTRY_COMPARE_WITH_TIMEOUT(attempt.complete.count(), 1, 60000);
    QCOMPARE(attempt.complete.at(0).at(0).toBool(), true);
    // The bootloader is looked for once before the run; it is there.
    QCOMPARE(cExpected::withCopy(attempt.tool.calls()),
             (QList<QStringList>{{QStringLiteral("-l")}, flashArguments(pair)}));
}

void tst_SerialDiscovery::noPortUsed_data()
{
    QTest::addColumn<QVector<PortEntry>>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<QStringList>>("calls");
    // Nothing passes the rule: the listing is asked and shows no bootloader.
    const QList<QStringList> probe{{QStringLiteral("-l")}};
    const PortEntry product = port(0x5741, kUsbSerial);
    const PortEntry lowerCase = port(0x5740, QStringLiteral("Mireltone Audio - orvik"));
    const PortEntry suffixed = port(0x5740, QStringLiteral("USB Serial Device (COM3)"));
    const PortEntry vendor{0x0484, 0xA44B, kOrvik, Fault::None};
    QTest::newRow("product 5741") << QVector<PortEntry>{product} << kNoDevice << probe;
    QTest::newRow("lower-case orvik") << QVector<PortEntry>{lowerCase} << kNoDevice << probe;
    QTest::newRow("description with (COM3)") << QVector<PortEntry>{suffixed} << kNoDevice << probe;
    QTest::newRow("other vendor") << QVector<PortEntry>{vendor} << kNoDevice << probe;
    QTest::newRow("all four skipped")
        << QVector<PortEntry>{product, lowerCase, suffixed, vendor} << kNoDevice << probe;
    // Passing ports that do not open: the last error decides, the tool is not run.
    const QList<QStringList> none;
    QTest::newRow("permission error")
        << QVector<PortEntry>{port(0x5740, kUsbSerial, Fault::Held)} << kInUse << none;
    QTest::newRow("device not found")
        << QVector<PortEntry>{port(0xA44B, kOrvik, Fault::NoNode)} << kConnection << none;
    QTest::newRow("both fail, permission last")
        << QVector<PortEntry>{port(0x5740, kUsbSerial, Fault::NoNode),
                              port(0xA44B, kOrvik, Fault::Held)}
        << kInUse << none;
    QTest::newRow("both fail, not found last")
        << QVector<PortEntry>{port(0x5740, kUsbSerial, Fault::Held),
                              port(0xA44B, kOrvik, Fault::NoNode)}
        << kConnection << none;
}

void tst_SerialDiscovery::noPortUsed()
{
    QFETCH(QVector<PortEntry>, entries);
    QFETCH(QString, text);
    QFETCH(QList<QStringList>, calls);
    cFakeSerialPorts ports(entries);
    QCOMPARE(listedPorts(), ports.names());
    cAttempt attempt;
    QVERIFY(attempt.tool.isValid());
    // The device in run-time mode and another device in DFU mode: no bootloader.
    attempt.tool.setScript(
        {QStringLiteral("out dfu-util 0.11\\n\\n"),
         QStringLiteral("out Found Runtime: [0483:5740] ver=0200, devnum=4, cfg=1, intf=2, "
                        "path=\"1-1\", alt=0, name=\"UNKNOWN\"\\n"),
         QStringLiteral("out Found DFU: [1209:df11] ver=0100, devnum=7, cfg=1, intf=0, "
                        "path=\"1-3\", alt=0, name=\"@Flash\"\\n")},
        {});

    QCOMPARE(attempt.begin(), false);
    // A text with a line feed is printed as two lines.
    QCOMPARE(attempt.printed, text.toUtf8() + '\n');
    QCOMPARE(attempt.statuses, QStringList{text});
    QCOMPARE(attempt.tool.calls(), calls);
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).fault != Fault::NoNode)
            verifyUntouched(ports, i);
    }
}

void tst_SerialDiscovery::toolMissing()
{
    cFakeSerialPorts ports({port(0x5740, kUsbSerial)});
    QCOMPARE(listedPorts(), ports.names());
    cAttempt attempt(cFakeTool::Placement::Missing);
    QVERIFY(attempt.tool.isValid());

    QCOMPARE(attempt.begin(), false);
    QCOMPARE(attempt.printed, kToolMissing.toUtf8() + '\n');
    QCOMPARE(attempt.statuses, QStringList{kToolMissing});
    verifyUntouched(ports, 0);
}

// The presence line before an attempt: ports are looked at, never opened; the tool lists the
// bootloader only while no port of the Orvik is there.
void tst_SerialDiscovery::presence_data()
{
    QTest::addColumn<QVector<PortEntry>>("entries");
    QTest::addColumn<bool>("denied"); // this user may not read and write the first port
    QTest::addColumn<bool>("tool");
    QTest::addColumn<QStringList>("listing");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("listings");
    QTest::addColumn<int>("unopenable"); // why the Orvik cannot be opened; -1: it can, or none

    const QStringList bootloader{QStringLiteral("out Found DFU: [0483:df11] ver=2200\\n")};
    const QStringList nothing{QStringLiteral("out dfu-util 0.11\\n\\n")};
    QTest::newRow("port of the Orvik") << QVector<PortEntry>{port(0x5740, kUsbSerial)} << false
                                       << true << bootloader << "Orvik connected" << 0 << -1;
    QTest::newRow("port, access denied")
        << QVector<PortEntry>{port(0xA44B, kOrvik)} << true << true << bootloader
        << "Orvik found, but access is denied" << 0 << int(cToolOutput::eDenied);
    QTest::newRow("other port, bootloader listed")
        << QVector<PortEntry>{port(0x5741, kUsbSerial)} << false << true << bootloader
        << "Orvik connected in its bootloader" << 1 << -1;
    QTest::newRow("nothing listed")
        << QVector<PortEntry>{} << false << true << nothing << "No Orvik connected" << 1 << -1;
    // Only the error output tells a bootloader the tool may not open from none at all.
    QTest::newRow("bootloader without a driver")
        << QVector<PortEntry>{} << false << true
        << (nothing + QStringList{"err dfu-util: Cannot open DFU device 0483:df11 found on devnum "
                                  "5 (LIBUSB_ERROR_NOT_SUPPORTED)\\n"})
        << "Orvik in its bootloader, but it has no driver" << 1 << int(cToolOutput::eNoDriver);
    QTest::newRow("bootloader, access denied")
        << QVector<PortEntry>{} << false << true
        << (nothing + QStringList{"err dfu-util: Cannot open DFU device 0483:df11 found on devnum "
                                  "5 (LIBUSB_ERROR_ACCESS)\\n"})
        << "Orvik found, but access is denied" << 1 << int(cToolOutput::eDenied);
    QTest::newRow("listing hangs")
        << QVector<PortEntry>{} << false << true << bootloader + QStringList{"hang"}
        << "No Orvik connected" << 1 << -1;
    QTest::newRow("no tool") << QVector<PortEntry>{} << false << false << QStringList()
                             << "No Orvik connected" << 0 << -1;
}

void tst_SerialDiscovery::presence()
{
    QFETCH(QVector<PortEntry>, entries);
    QFETCH(bool, denied);
    QFETCH(bool, tool);
    QFETCH(QStringList, listing);
    QFETCH(QString, text);
    QFETCH(int, listings);
    QFETCH(int, unopenable);

    cFakeSerialPorts ports(entries);
    cFakeTool fake(tool ? cFakeTool::Placement::Executable : cFakeTool::Placement::Missing);
    QVERIFY(fake.isValid());
    fake.setScript(listing, {});
    // access() asks for the real user; root may do anything, so it poses as nobody.
    const bool root = ::getuid() == 0;
    if (denied) {
        QVERIFY(QFile::setPermissions(ports.nodeFile(0), QFileDevice::Permissions()));
        if (root)
            QCOMPARE(::setresuid(65534, uid_t(-1), uid_t(-1)), 0);
    }
    cDevicePresence presence;
    QList<int> why;
    connect(&presence, &cDevicePresence::unopenable, this,
            [&why](cToolOutput::eUnopened reason) { why << int(reason); });
    presence.start();
    const bool shown = QTest::qWaitFor([&] { return presence.text() == text; }, 15000);
    // A failed attempt sees the same port this user may not open.
    cDeviceAccess access;
    access.attemptFailed(QByteArray());
    const bool offered = access.asking();
    if (denied && root)
        QCOMPARE(::setresuid(0, uid_t(-1), uid_t(-1)), 0);
    QVERIFY2(shown, qPrintable(presence.text()));
    QCOMPARE(why, unopenable < 0 ? QList<int>() : QList<int>{unopenable});
    QCOMPARE(offered, denied && !cUdevRules::present());
    QCOMPARE(fake.calls().size(), listings);
    for (int i = 0; i < entries.size(); ++i)
        verifyUntouched(ports, i);

    // The attempt takes over: the line empties and nothing more is looked at.
    presence.stop();
    QCOMPARE(presence.text(), QString());
    presence.refresh();
    QCOMPARE(fake.calls().size(), listings);
}

// A port plugged in and pulled again while the window is open.
void tst_SerialDiscovery::presenceFollowsPorts()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({QStringLiteral("out dfu-util 0.11\\n\\n")}, {});
    auto ports = std::make_unique<cFakeSerialPorts>(QVector<PortEntry>{});
    cDevicePresence presence;
    presence.start();
    QTRY_COMPARE(presence.text(), QStringLiteral("No Orvik connected"));

    // One testbed at a time: the old one takes the fake device tree with it.
    ports.reset();
    ports = std::make_unique<cFakeSerialPorts>(QVector<PortEntry>{port(0x5740, kOrvik)});
    QTRY_COMPARE(presence.text(), QStringLiteral("Orvik connected"));
    const int listings = tool.calls().size();
    QTest::qWait(3500); // a listing would be due by now
    QCOMPARE(tool.calls().size(), listings);

    ports.reset();
    ports = std::make_unique<cFakeSerialPorts>(QVector<PortEntry>{});
    QTRY_COMPARE(presence.text(), QStringLiteral("No Orvik connected"));
}

ORVIK_CAPTURING_TEST_MAIN(tst_SerialDiscovery)
#include "tst_serialdiscovery.moc"
