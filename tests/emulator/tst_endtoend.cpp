#ifdef ORVIK_FAKE_SERIAL_PORTS
#include "cBootloaderSwitch.h" // first: umockdev.h must come before any Qt header
#endif

#include "cExpected.h"
#include "cOrvikEmulator.h"
#include "cUpdateDialog.h"
#ifdef Q_OS_WIN
#include "cWinePort.h"
#endif

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

namespace {
const QString kNoDevice = cExpected::noDevice;
const QString kRestarting = QStringLiteral("Restarting the Orvik...");
// What stands before the number in a progress text.
const QString kProgressPrefix = cExpected::updating + QStringLiteral(" (");
// Sector ends of the emulated flash, as offsets from its base.
const int kSectorEnds[] = {0x4000, 0x8000, 0xC000, 0x10000, 0x20000, 0x40000};

const auto image = cExpected::image;
const auto flashArguments = cExpected::flashArguments;

// Wine's COM ports carry no USB IDs and Windows has no fake ones: the serial road is proven
// where umockdev fakes the ports.
#ifdef ORVIK_FAKE_SERIAL_PORTS
constexpr bool kFakePorts = true;
#else
constexpr bool kFakePorts = false;
#endif
#define SKIP_WITHOUT_FAKE_PORTS(serial)                                                            \
    if ((serial) && !kFakePorts)                                                                   \
    QSKIP("no fake USB serial ports here: the serial road is proven on Linux")

// What the tool's text becomes in the update log. The log is written in text mode; on
// Windows the tool writes in text mode too, so its line feeds arrive as CR LF and each
// comes out as CR CR LF.
QByteArray logged(const QByteArray &toolText)
{
    QByteArray text = toolText;
#ifdef Q_OS_WIN
    text.replace("\n", "\r\r\n");
#endif
    return text;
}

int sectorEnd(int size)
{
    for (const int end : kSectorEnds) {
        if (size <= end)
            return end;
    }
    return cOrvikEmulator::kFlashSize;
}
} // namespace

// One update through the real controller, the real flashing tool and the emulated
// device, in a working directory of its own with the tool at its relative path; with a fake
// USB serial port of the device's when a product ID is given.
class cScenario
{
public:
    explicit cScenario(quint16 productId = 0,
                       const QString &description = QStringLiteral("USB Serial Device"))
#ifdef ORVIK_FAKE_SERIAL_PORTS
        : m_ports(productId ? QVector<PortEntry>{{0x0483, productId, description, Fault::None}}
                            : QVector<PortEntry>())
#endif
    {
        Q_UNUSED(productId)
        Q_UNUSED(description)
        m_valid = m_work.isValid() && m_emulator.isValid() &&
                  cOrvikEmulator::installTool(m_work.path()) && QDir::setCurrent(m_work.path());
        QObject::connect(&dialog, &cUpdateDialog::statusInfoChanged, &dialog,
                         [this] { statuses << dialog.statusInfo(); });
    }
    ~cScenario()
    {
        QDir::setCurrent(m_previousDir);
    }
    cScenario(const cScenario &) = delete;
    cScenario &operator=(const cScenario &) = delete;

    bool isValid() const
    {
        return m_valid;
    }
    cOrvikEmulator &emulator()
    {
        return m_emulator;
    }
#ifdef ORVIK_FAKE_SERIAL_PORTS
    const cFakeSerialPorts &ports() const
    {
        return m_ports;
    }
#endif
    QString filePath(const QString &name) const
    {
        return m_work.filePath(name);
    }

    // As a device does: the bootloader appears "afterMs" after the command has come in.
    // Before, if given, "replacement" takes the place of "file", as a download finishing late
    // would.
    void switchOnCommand(int port, const QString &file = QString(),
                         const QByteArray &replacement = QByteArray(), int afterMs = 0)
    {
#ifdef ORVIK_FAKE_SERIAL_PORTS
        m_switch.start(port, afterMs, [file, replacement] {
            QFile replaced(file);
            if (!file.isEmpty() && replaced.open(QIODevice::WriteOnly))
                replaced.write(replacement);
        });
#else
        Q_UNUSED(port)
        Q_UNUSED(file)
        Q_UNUSED(replacement)
        Q_UNUSED(afterMs)
#endif
    }

    // As the Orvik after its bootloader dropped off at the leave request: it starts the new
    // firmware, and its serial port shows "afterMs" after the bootloader has gone. The port it
    // had goes as it enters its bootloader.
    void portBackAfterRestart(int afterMs)
    {
        QObject::connect(&m_deviceSide, &QTimer::timeout, &m_deviceSide, [this, afterMs] {
            const QString mode = m_emulator.mode();
            if (mode == QLatin1String("bootloader")) {
                unlistPort();
            } else if (mode == QLatin1String("run")) {
                m_deviceSide.stop();
                QTimer::singleShot(afterMs, &m_deviceSide, [this] { listPort(); });
            }
        });
        m_deviceSide.start(20);
    }
    // Until the first percentage, also the longest pause between two handled events.
    int update(const QString &firmware)
    {
        dialog.setSelectedFirmwareFile(firmware);
        QElapsedTimer sinceTick;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, &ticks, [&] {
            if (percentages().isEmpty())
                longestPauseMs = qMax(longestPauseMs, sinceTick.restart());
        });
        ticks.start(10);
        startedAt.start();
        sinceTick.start();
        dialog.startUpdate();
        // A run that does not end in time shows as still in progress (1).
        return QTest::qWaitFor([this] { return dialog.status() != eUpdateInProgress; }, 120000)
                   ? dialog.status()
                   : eUpdateInProgress;
    }

    qint64 longestPauseMs = 0;
    QElapsedTimer startedAt;

    // The overall percentages shown, in order.
    QList<int> percentages() const
    {
        QList<int> values;
        for (const QString &status : statuses) {
            if (status.startsWith(kProgressPrefix))
                values << status.mid(kProgressPrefix.size()).chopped(2).toInt();
        }
        return values;
    }

    cUpdateDialog dialog;
    QStringList statuses;

private:
    void listPort()
    {
#ifdef ORVIK_FAKE_SERIAL_PORTS
        m_ports.add({0x0483, 0x5740, QStringLiteral("USB Serial Device"), Fault::None});
#elif defined(Q_OS_WIN)
        QVERIFY(m_winePort.list());
#endif
    }
    void unlistPort()
    {
#ifdef ORVIK_FAKE_SERIAL_PORTS
        if (!m_ports.names().isEmpty())
            m_ports.remove(0);
#endif
    }

    QString m_previousDir = QDir::currentPath();
    QTemporaryDir m_work;
    cOrvikEmulator m_emulator;
#ifdef ORVIK_FAKE_SERIAL_PORTS
    cFakeSerialPorts m_ports;
    cBootloaderSwitch m_switch{m_ports, m_emulator};
#endif
#ifdef Q_OS_WIN
    cWinePort m_winePort;
#endif
    QTimer m_deviceSide;
    bool m_valid = false;
};

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void success_data();
    void success();
    void noDevice_data();
    void noDevice();
    void refusedImage();
    void fault_data();
    void fault();
};

void tst_EndToEnd::initTestCase()
{
    if (!cOrvikEmulator::toolAvailable())
        QSKIP("Debian's dfu-util (/usr/bin/dfu-util) is not installed");
    qRegisterMetaType<eUpdateState>("eUpdateState");
}

void tst_EndToEnd::success_data()
{
    QTest::addColumn<int>("productId"); // 0: no serial port, already in the bootloader
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fault"); // "replaced": a web page at the path after the switch

    QTest::newRow("serial 0x5740") << 0x5740 << "USB Serial Device" << 65536 << "app.bin"
                                   << "";
    // As on Windows, the bootloader shows seconds after the switch.
    QTest::newRow("bootloader back after 4 s")
        << 0x5740 << "USB Serial Device" << 65536 << "app.bin"
        << "late";
    // As on Windows the first time: the bootloader shows at once, but the tool can open it
    // only once Windows has bound its driver.
    QTest::newRow("bootloader without a driver for 12 s")
        << 0x5740 << "USB Serial Device" << 65536 << "app.bin"
        << "driver-late";
    QTest::newRow("file replaced after the switch")
        << 0x5740 << "USB Serial Device" << 65536 << "app.bin"
        << "replaced";
    QTest::newRow("serial 0xA44B") << 0xA44B << "Mireltone Audio - Orvik" << 65536 << "app.bin"
                                   << "";
    QTest::newRow("in bootloader") << 0 << "" << 65536 << "app.bin"
                                   << "";
    QTest::newRow("image ends inside a sector") << 0 << "" << 100000 << "app.bin"
                                                << "";
    QTest::newRow("blanks, non-ASCII and hash in the path")
        << 0 << "" << 20000 << "new fw #2 \u00e9\u20ac.bin"
        << "";
    // Erase records then arrive on their own, so the erase half shows too.
    QTest::newRow("slow erase") << 0 << "" << 65536 << "app.bin"
                                << "slow-erase";
    // The bootloader starts the image before it answers the leave request; the Orvik's port
    // shows 1.5 s later.
    QTest::newRow("serial, dropped off at the leave request, back")
        << 0x5740 << "USB Serial Device" << 65536 << "app.bin"
        << "leave-back";
    QTest::newRow("in bootloader, dropped off at the leave request, back")
        << 0 << "" << 65536 << "app.bin"
        << "leave-back";
}

void tst_EndToEnd::success()
{
    QFETCH(int, productId);
    QFETCH(QString, description);
    QFETCH(int, size);
    QFETCH(QString, name);
    QFETCH(QString, fault);
    SKIP_WITHOUT_FAKE_PORTS(productId);

    cScenario scenario(quint16(productId), description);
    QVERIFY(scenario.isValid());
    const QString firmware = scenario.filePath(name);
    const bool replaced = fault == QLatin1String("replaced");
    const bool driverLate = fault == QLatin1String("driver-late");
    const bool late = fault == QLatin1String("late") || driverLate;
    const bool leaveBack = fault == QLatin1String("leave-back");
    if (leaveBack) {
        scenario.emulator().setFault(QStringLiteral("vanish-leave"));
        scenario.portBackAfterRestart(1500);
    } else if (!fault.isEmpty() && !replaced && !late) {
        scenario.emulator().setFault(fault);
    }
    if (driverLate)
        scenario.emulator().bindDriverAfter(12000);
    if (productId)
        scenario.switchOnCommand(0, replaced ? firmware : QString(),
                                 "<html><body>404 Not Found</body></html>",
                                 fault == QLatin1String("late") ? 4000 : 0);
    else
        scenario.emulator().startInBootloader();

    // Written over a pattern: erasing must happen for the image to come out right.
    const QByteArray before(cOrvikEmulator::kFlashSize, '\x5a');
    scenario.emulator().setFlash(before);
    const QByteArray content = image(size);
    {
        QFile file(firmware);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QCOMPARE(scenario.update(firmware), int(eUpdateSucceeded));
    QCOMPARE(scenario.statuses.last(), QStringLiteral("Update succeeded"));
    // Only what the Orvik's return showed made it a success.
    QCOMPARE(scenario.statuses.contains(kRestarting), leaveBack);

    const QString pair = productId ? QStringLiteral("483:%1,483:df11").arg(productId, 0, 16)
                                   : QStringLiteral("483:0,483:df11");
    // Either road lists the bootloader once before the run: the probe, or the look after the
    // switch, which finds it there.
    const QList<QStringList> calls{{QStringLiteral("-l")}, flashArguments(pair)};
    const QList<QStringList> made = cExpected::withCopy(scenario.emulator().calls());
    if (late) {
        // Listings every half second until the bootloader showed, and the window kept going.
        QVERIFY2(made.size() > 2, qPrintable(QString::number(made.size())));
        for (int i = 0; i + 1 < made.size(); ++i)
            QCOMPARE(made.at(i), QStringList{QStringLiteral("-l")});
        QCOMPARE(made.last(), flashArguments(pair));
        QVERIFY2(scenario.longestPauseMs < 100,
                 qPrintable(QString::number(scenario.longestPauseMs)));
    } else {
        QCOMPARE(made, calls);
    }

    const QByteArray flash = scenario.emulator().flash();
    QCOMPARE(flash.left(size), content);
    const int end = sectorEnd(size);
    QCOMPARE(flash.mid(size, end - size), QByteArray(end - size, '\xff'));
    QCOMPARE(flash.mid(end), before.mid(end));
    QVERIFY(scenario.emulator().waitForRestartIntoApplication(10000));

    // How the records fall into chunks is the pipe's business; the last one shown is
    // the end of the download, and a slow erase shows its own half on the way.
    const QList<int> shown = scenario.percentages();
    const QByteArray statuses = scenario.statuses.join('|').toUtf8();
    QVERIFY2(!shown.isEmpty() && shown.last() == 100, statuses.constData());
    QVERIFY2(std::all_of(shown.begin(), shown.end(), [](int v) { return v > 0 && v <= 100; }),
             statuses.constData());
    QVERIFY2(cExpected::risesInHalves(shown), statuses.constData());
    if (fault == QLatin1String("slow-erase")) {
        QVERIFY2(std::any_of(shown.begin(), shown.end(), [](int v) { return v < 50; }),
                 statuses.constData());
    }

    // The log's own lines and the tool's, as each is written in text mode.
    QFile log(firmware.chopped(3) + QStringLiteral("OrvikUpdater.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(text.startsWith(cExpected::textMode(QByteArray(37, '-') + "\nOutput:\n") +
                             logged("dfu-util 0.11\n")),
             text.left(80).constData());
    QVERIFY(text.contains(logged("Erase    done.\n")));
    QVERIFY(text.contains(logged("Download done.\n")));
    QVERIFY(text.contains(
        cExpected::textMode("\nError:\n") +
        logged(cExpected::toolWarning("Warning: Invalid DFU suffix signature\n").toUtf8())));
}

// The probe finds no bootloader it can use; the attempt says so, as it always did.
void tst_EndToEnd::noDevice_data()
{
    QTest::addColumn<QString>("fault"); // empty: no device at all
    QTest::newRow("nothing there") << QString();
    QTest::newRow("bootloader without a driver") << "no-driver";
    QTest::newRow("bootloader not to be opened") << "access";
}

void tst_EndToEnd::noDevice()
{
    QFETCH(QString, fault);
    cScenario scenario;
    QVERIFY(scenario.isValid());
    if (!fault.isEmpty()) {
        scenario.emulator().setFault(fault);
        scenario.emulator().startInBootloader();
    }
    const QString firmware = scenario.filePath("app.bin");
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image(4096));
    file.close();

    QCOMPARE(scenario.update(firmware), int(eUpdateFailed));
    // Announced by the update object, then again by the controller with its new state.
    QCOMPARE(scenario.statuses, (QStringList{kNoDevice, kNoDevice}));
    QCOMPARE(scenario.emulator().calls(), QList<QStringList>{{"-l"}});
    QCOMPARE(scenario.emulator().flash(), QByteArray(cOrvikEmulator::kFlashSize, '\xff'));
    QVERIFY(!QFile::exists(scenario.filePath("app.OrvikUpdater.log")));
}

// A web page saved as a .bin file never reaches the device, which keeps its firmware.
void tst_EndToEnd::refusedImage()
{
    cScenario scenario(kFakePorts ? 0x5740 : 0);
    QVERIFY(scenario.isValid());
    scenario.emulator().startInBootloader();
    const QByteArray before = image(cOrvikEmulator::kFlashSize);
    scenario.emulator().setFlash(before);
    const QString firmware = scenario.filePath("fw.bin");
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("<!DOCTYPE html>\n<html><head><title>Orvik firmware</title></head></html>\n");
    file.close();
#ifdef ORVIK_FAKE_SERIAL_PORTS
    forgetRequestedSettings();
#endif

    QCOMPARE(scenario.update(firmware), int(eUpdateFailed));
    QCOMPARE(scenario.statuses, (QStringList{cExpected::notForDevice, cExpected::notForDevice}));
#ifdef ORVIK_FAKE_SERIAL_PORTS
    const WriteSeen seen = scenario.ports().seen(0);
    QCOMPARE(seen.writes, 0);
    QVERIFY2(seen.asked.isEmpty(), "the serial port was opened");
    QCOMPARE(scenario.ports().received(0, 0), QByteArray());
#endif
    QCOMPARE(scenario.emulator().calls(), QList<QStringList>());
    QCOMPARE(scenario.emulator().flash(), before);
    QVERIFY(!QFile::exists(scenario.filePath("fw.OrvikUpdater.log")));
}

// A write that does not complete is never reported as a success.
void tst_EndToEnd::fault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QString>("status"); // the last one

    const QString failed = QStringLiteral("Update failed");
    QTest::newRow("access denied")
        << "access" << true << QByteArray("LIBUSB_ERROR_ACCESS") << failed;
    QTest::newRow("no driver, after the switch")
        << "no-driver" << true << QByteArray("LIBUSB_ERROR_NOT_SUPPORTED") << failed;
    QTest::newRow("bootloader never back after the switch")
        << "never-back" << true << QByteArray("No DFU capable USB device available") << failed;
    QTest::newRow("stall during erase")
        << "erase-stall" << false << QByteArray("Error during special command \"ERASE_PAGE\"")
        << failed;
    QTest::newRow("erase error status")
        << "erase-error" << false << QByteArray("Wrong state") << failed;
    QTest::newRow("vanishes during download")
        << "vanish-download" << false << QByteArray("LIBUSB_ERROR_NO_DEVICE") << failed;
    // The image is written, but the Orvik never shows again.
    QTest::newRow("dropped off at the leave request, never back")
        << "vanish-leave" << false << QByteArray("Error during download get_status")
        << cExpected::notRestarted;
}

void tst_EndToEnd::fault()
{
    QFETCH(QString, fault);
    QFETCH(bool, serial);
    QFETCH(QByteArray, error);
    QFETCH(QString, status);
    SKIP_WITHOUT_FAKE_PORTS(serial);

    cScenario scenario(serial ? 0x5740 : 0);
    QVERIFY(scenario.isValid());
    if (fault != QLatin1String("never-back"))
        scenario.emulator().setFault(fault);
    if (serial && fault != QLatin1String("never-back"))
        scenario.switchOnCommand(0);
    else if (!serial)
        scenario.emulator().startInBootloader();
    const QString firmware = scenario.filePath("app.bin");
    QFile file(firmware);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image(65536));
    file.close();

    QCOMPARE(scenario.update(firmware), int(eUpdateFailed));
    QCOMPARE(scenario.statuses.last(), status);
    // A real failure gets no wait for the Orvik's return.
    const bool written = fault == QLatin1String("vanish-leave");
    QCOMPARE(scenario.statuses.contains(kRestarting), written);
    if (written)
        QCOMPARE(scenario.emulator().flash().left(65536), image(65536));
    // After the switch, the wait for the bootloader ends after 10 s, then the tool says why.
    if (serial && (fault == QLatin1String("never-back") || fault == QLatin1String("no-driver")))
        QVERIFY2(scenario.startedAt.elapsed() >= 10000,
                 qPrintable(QString::number(scenario.startedAt.elapsed())));
    QFile log(scenario.filePath("app.OrvikUpdater.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    const QByteArray errorPart = text.mid(text.indexOf("\nError:\n"));
    QVERIFY2(errorPart.contains(error), text.constData());
}

QTEST_GUILESS_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
