// Must come before any Qt header: GLib's "public" member clashes with Qt's macros.
#include <umockdev.h>

#include "cFakeTool.h"
#include "cFirmwareUpdate.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QMutex>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <vector>

#include <dlfcn.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {
const QString kOpened = QStringLiteral("Succeeded opening port");
const QString kUpdating = QStringLiteral("Updating... do not power off unit or quit updater!");
const QString kNoDevice = QStringLiteral("Couldn't find any available Orvik Devices");
const QString kInUse =
    QStringLiteral("Device already in use.\nClose all other apps connected to your Orvik device.");
const QString kConnection =
    QStringLiteral("Device connection failure.\nEnsure your cable is securely fitted.");
const QString kToolMissing = QStringLiteral("Failed to find DFU Util");
const QByteArray kUpdateModeCommand = QByteArray::fromHex("a5a5000e00000000");
const QString kUsbSerial = QStringLiteral("USB Serial Device");
const QString kOrvik = QStringLiteral("Mireltone Audio - Orvik");

// Held: another QSerialPort has it open. NoNode: listed, but its node is gone.
enum class Fault
{
    None,
    Held,
    NoNode
};

struct PortEntry
{
    quint16 vendor;
    quint16 product;
    QString description;
    Fault fault;
};

PortEntry port(quint16 product, const QString &description, Fault fault = Fault::None)
{
    return {0x0483, product, description, fault};
}

QStringList flashArguments(const QString &pair, const QString &firmware)
{
    return {QStringLiteral("-d"), pair,
            QStringLiteral("-a"), QStringLiteral("0"),
            QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
            QStringLiteral("-D"), firmware};
}

QBasicMutex requestedMutex;
QVector<termios> requested;

void forgetRequested()
{
    QMutexLocker lock(&requestedMutex);
    requested.clear();
}
} // namespace

Q_DECLARE_METATYPE(PortEntry)

// A pty keeps neither data bits nor parity (the kernel forces CS8, no parity), so
// what QSerialPort asks for is recorded on its way to libc.
extern "C" int tcsetattr(int fd, int action, const termios *tio) noexcept
{
    using Real = int (*)(int, int, const termios *);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    {
        QMutexLocker lock(&requestedMutex);
        requested << *tio;
    }
    return real(fd, action, tio);
}

// What a fake port saw while the update mode command was being written.
struct WriteSeen
{
    int writes = 0;
    termios line{};         // the settings as the pty holds them
    QVector<termios> asked; // every tcsetattr() since forgetRequested()
};

// One umockdev testbed with USB serial ports, listed in the given order.
class cFakePorts
{
public:
    explicit cFakePorts(const QVector<PortEntry> &entries);
    ~cFakePorts();

    QStringList names() const;
    WriteSeen seen(int index) const;
    // The bytes at the other end of the pty; waits for at least "expected" of them.
    QByteArray received(int index, int expected) const;

private:
    struct Port
    {
        QString name;
        int master = -1;
        UMockdevIoctlBase *handler = nullptr;
        mutable QMutex mutex;
        WriteSeen seen;
    };

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer);
    static gboolean onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data);

    UMockdevTestbed *m_testbed = nullptr;
    std::vector<std::unique_ptr<Port>> m_ports;
    std::vector<std::unique_ptr<QSerialPort>> m_holders;
    static int s_nextMinor;
};

// Minors from 200 keep the host's udev data out; the pid keeps /var/lock names apart.
int cFakePorts::s_nextMinor = 200;

cFakePorts::cFakePorts(const QVector<PortEntry> &entries) : m_testbed(umockdev_testbed_new())
{
    // An empty class/tty stops Qt from scanning the host's /dev.
    QDir(QString::fromUtf8(umockdev_testbed_get_sys_dir(m_testbed)))
        .mkpath(QStringLiteral("class/tty"));
    for (int i = 0; i < entries.size(); ++i) {
        const PortEntry &entry = entries.at(i);
        const int minor = s_nextMinor++;
        auto fake = std::make_unique<Port>();
        fake->name = QStringLiteral("ttyACM%1_%2").arg(::getpid()).arg(minor);
        const QString ids = QStringLiteral("E: ID_VENDOR_ID=%1\nE: ID_MODEL_ID=%2\n")
                                .arg(entry.vendor, 4, 16, QLatin1Char('0'))
                                .arg(entry.product, 4, 16, QLatin1Char('0'));
        const bool node = entry.fault != Fault::NoNode;
        const QString text =
            QStringLiteral(
                "P: /devices/pci0000:00/usb1/1-%1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n%2\n"
                "P: /devices/pci0000:00/usb1/1-%1/1-%1:1.0\nE: SUBSYSTEM=usb\n"
                "E: DEVTYPE=usb_interface\nE: DRIVER=cdc_acm\n\n"
                "P: /devices/pci0000:00/usb1/1-%1/1-%1:1.0/tty/%3\n%4E: SUBSYSTEM=tty\n"
                "E: DEVNAME=/dev/%3\nE: MAJOR=166\nE: MINOR=%5\n%2E: ID_MODEL=%6\nA: dev=166:%5\n")
                .arg(QString::number(i + 1), ids, fake->name,
                     node ? QStringLiteral("N: %1\n").arg(fake->name) : QString(),
                     QString::number(minor),
                     QString(entry.description).replace(QLatin1Char(' '), QLatin1Char('_')));
        GError *error = nullptr;
        if (!umockdev_testbed_add_from_string(m_testbed, text.toUtf8().constData(), &error)) {
            qWarning("umockdev: %s", error->message);
            g_error_free(error);
        }
        if (node) {
            const QByteArray path = "/dev/" + fake->name.toUtf8();
            fake->handler = umockdev_ioctl_base_new();
            g_signal_connect(fake->handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
            g_signal_connect(fake->handler, "handle-write", G_CALLBACK(onWrite), fake.get());
            umockdev_testbed_attach_ioctl(m_testbed, path.constData(), fake->handler, nullptr);
            fake->master = umockdev_testbed_get_dev_fd(m_testbed, path.constData());
            // Start far from the wanted line settings, so that they must be applied.
            termios tio{};
            ::tcgetattr(fake->master, &tio);
            ::cfsetspeed(&tio, B9600);
            tio.c_cflag |= CSTOPB | CRTSCTS;
            tio.c_iflag |= IXON | IXOFF;
            ::tcsetattr(fake->master, TCSANOW, &tio);
        }
        m_ports.push_back(std::move(fake));
        if (entry.fault == Fault::Held) {
            m_holders.push_back(std::make_unique<QSerialPort>(m_ports.back()->name));
            if (!m_holders.back()->open(QIODevice::ReadWrite))
                qWarning("could not hold %s", qPrintable(m_ports.back()->name));
        }
    }
}

cFakePorts::~cFakePorts()
{
    m_holders.clear();
    g_object_unref(m_testbed);
    for (const auto &fake : m_ports) {
        if (fake->handler)
            g_object_unref(fake->handler);
    }
}

// umockdev refuses most ioctls on fake nodes (TIOCEXCL among them): run them on the pty.
gboolean cFakePorts::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    int error = 0;
    const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

// Runs while the writer waits, so the settings seen are those the bytes went out with.
gboolean cFakePorts::onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data)
{
    auto *fake = static_cast<Port *>(data);
    QMutexLocker lock(&fake->mutex);
    ++fake->seen.writes;
    ::tcgetattr(fake->master, &fake->seen.line);
    QMutexLocker requestedLock(&requestedMutex);
    fake->seen.asked = requested;
    return FALSE; // the write itself goes on to the pty
}

QStringList cFakePorts::names() const
{
    QStringList result;
    for (const auto &fake : m_ports)
        result << fake->name;
    return result;
}

WriteSeen cFakePorts::seen(int index) const
{
    const Port &fake = *m_ports[size_t(index)];
    QMutexLocker lock(&fake.mutex);
    return fake.seen;
}

QByteArray cFakePorts::received(int index, int expected) const
{
    const int fd = m_ports[size_t(index)]->master;
    QByteArray bytes;
    QDeadlineTimer deadline(30000);
    for (;;) {
        const bool waiting = bytes.size() < expected && !deadline.hasExpired();
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, waiting ? int(deadline.remainingTime()) : 0) <= 0 ||
            !(pfd.revents & POLLIN))
            return bytes;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, int(n));
    }
}

// One update attempt in a fresh tool directory, with its status texts and stdout.
class cAttempt
{
public:
    explicit cAttempt(cFakeTool::Placement placement = cFakeTool::Placement::Executable)
        : tool(placement), firmware(tool.filePath(QStringLiteral("app.bin"))),
          update(firmware, nullptr), complete(&update, &cFirmwareUpdate::UpdateComplete)
    {
        QObject::connect(&update, &cFirmwareUpdate::statusInfoChanged,
                         [this] { statuses << update.statusInfo(); });
    }

    // BeginUpdate with the process's stdout (fd 1) going to a file.
    bool begin()
    {
        QTemporaryFile file;
        if (!file.open())
            qFatal("no temporary file for stdout");
        std::fflush(stdout);
        const int saved = ::dup(STDOUT_FILENO);
        ::dup2(file.handle(), STDOUT_FILENO);
        const bool result = update.BeginUpdate();
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        QFile written(file.fileName());
        written.open(QIODevice::ReadOnly);
        printed = written.readAll();
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

private:
    static void verifyUntouched(const cFakePorts &ports, int index);
};

void tst_SerialDiscovery::initTestCase()
{
    if (!qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("umockdev")))
        QSKIP("needs umockdev's preload library: run under umockdev-wrapper");
    qRegisterMetaType<PortEntry>();
}

void tst_SerialDiscovery::verifyUntouched(const cFakePorts &ports, int index)
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
    cFakePorts ports(entries);
    QCOMPARE(listedPorts(), ports.names());
    cAttempt attempt;
    QVERIFY(attempt.tool.isValid());
    forgetRequested();
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
    QCOMPARE(attempt.tool.calls(), (QList<QStringList>{flashArguments(pair, attempt.firmware)}));
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
    cFakePorts ports(entries);
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
    cFakePorts ports({port(0x5740, kUsbSerial)});
    QCOMPARE(listedPorts(), ports.names());
    cAttempt attempt(cFakeTool::Placement::Missing);
    QVERIFY(attempt.tool.isValid());

    QCOMPARE(attempt.begin(), false);
    QCOMPARE(attempt.printed, kToolMissing.toUtf8() + '\n');
    QCOMPARE(attempt.statuses, QStringList{kToolMissing});
    verifyUntouched(ports, 0);
}

QTEST_GUILESS_MAIN(tst_SerialDiscovery)
#include "tst_serialdiscovery.moc"
