// The real program in its real window on a private X server, against the emulated device
// behind the real flashing tool, driven with mouse and keyboard as a person would update a
// device. What the window shows is read back from screenshots: the texts by OCR, the
// button states by their colours. Every screenshot is kept as an artefact.
//
// With ORVIK_GUI_WINDOWS_RELEASE naming the folder of a Windows release (and
// ORVIK_GUI_WINE_RUN the script that runs Windows programs), the program is that release's,
// run under Wine, with the Windows flashing tool built with the emulated bootloader. Wine's
// COM ports carry no USB IDs, so there the rows that need a serial port are skipped.

#include "cBootloaderSwitch.h" // first: umockdev.h must come before any Qt header

#include "cChildProcess.h"
#include "cDesktop.h"
#include "cExpected.h"
#include "cFakeTool.h"
#include "cInstanceGuard.h"
#include "cOrvikEmulator.h"
#include "cPoll.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopedPointer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Generous: screenshots and OCR on a loaded two-core machine.
const int kWaitMs = 60000;
const QByteArray kUpdateModeCommand = cExpected::updateModeCommand;
const QString kMainTitle = QStringLiteral("Orvik Firmware Updater");
const QString kDialogTitle = QStringLiteral("Select Firmware file to load");
const QString kQuestionTitle = QStringLiteral("Orvik Updater");
const QString kDriverTitle = QStringLiteral("Orvik Updater: driver");
// The driver question's text, above its buttons.
const QRect kDriverText(0, 10, 420, 80);
const int kImageSize = 70000;

// Places in the window at its default size of 420 x 240.
const QPoint kSelectFileCentre(210, 115);
const QPoint kUpdateCentre(210, 175);
const QPoint kSelectFileInside(165, 95);
const QPoint kUpdateInside(165, 155);
const QPoint kMessageBoxInside(25, 25);
const QRect kMessageBox(20, 20, 380, 60);
const QRect kMessageText(20, 29, 380, 42);
const QRect kStatusLine(0, 202, 420, 36);
// The path field sits in the file dialog's top bar, to the right of the "up" button.
const int kPathFieldY = 22;
const int kPathFieldRightInset = 20;

const QColor kWhite(QStringLiteral("#ffffff"));
const QColor kGrey(QStringLiteral("#808080"));
const QColor kMessageBoxColour(QStringLiteral("#2a2a2a"));

template <typename Check> bool eventually(Check check, int ms = kWaitMs)
{
    return cPoll::until(check, ms);
}

// The Windows release under Wine, or empty for the program of this build.
QString windowsRelease()
{
    return qEnvironmentVariable("ORVIK_GUI_WINDOWS_RELEASE");
}

// The colour of the brightest pixel in the area: the colour of the text drawn there.
QColor brightest(const QImage &image, const QRect &area)
{
    QColor best(Qt::black);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor colour(image.pixel(x, y));
            if (colour.lightness() > best.lightness())
                best = colour;
        }
    }
    return best;
}

// An image the updater accepts, random after its vector table.
QByteArray randomImage(int size)
{
    QByteArray bytes = cExpected::image(size);
    for (int i = 8; i < size; ++i)
        bytes[i] = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

// The device of one case: the emulated bootloader and the fake serial ports, with a
// device that switches into its bootloader once the update mode command has come in.
class cDevice
{
public:
    explicit cDevice(const QVector<PortEntry> &ports) : m_ports(ports) {}

    cOrvikEmulator emulator;

    // The bootloader shows "afterMs" after the command has come in.
    void switchOnCommand(int afterMs) { m_switch.start(0, afterMs); }
    QByteArray commandSeen() { return m_switch.commandSeen(); }

private:
    cFakeSerialPorts m_ports;
    cBootloaderSwitch m_switch{m_ports, emulator};
};

// What the window shows, as a person reads it.
struct cLook
{
    QString screenshot;
    QString message;
    QString status;
    QColor selectFile;
    QColor update;
    QColor messageBox;
    QColor messageText;

    // The update has ended, one way or the other.
    static bool finished(const cLook &look)
    {
        return look.message.contains(QLatin1String("SUCCESS")) ||
               look.message.contains(QLatin1String("FAILED")) ||
               look.status.contains(QLatin1String("Update failed"));
    }

    QByteArray describe() const
    {
        return QStringLiteral("message \"%1\", status line \"%2\", Select File %3, Update %4, "
                              "message box %5, message text %6; see %7")
            .arg(message, status, selectFile.name(), update.name(), messageBox.name(),
                 messageText.name(), screenshot)
            .toUtf8();
    }
};
} // namespace

class tst_Gui : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void success_data();
    void success();
    void quitQuestion();
    void killedMidRun();
    void driverOffer();

private:
    // The steps of an update as a person takes them; each fails the test on its own.
    QString startWithImage(cDevice &device, const QByteArray &image);
    void selectThroughDialog(const QString &firmware);
    void pressUpdate(cDevice &device);
    void startHeldUpdate(cDevice &device, const QByteArray &image);
    void closeAndExpectExit();

    QImage screenshot(const QString &window, const QString &state, QString *path = nullptr) const;
    QString readText(const QImage &image, const QRect &area, bool lightOnDark) const;
    cLook look(const QString &window, const QString &state) const;
    template <typename Wanted>
    bool waitForLook(const QString &window, const QString &state, Wanted wanted, cLook *seen) const;
    void startUpdater(const QString &runDir);
    QByteArray childEnvironment() const;
    QByteArray childMaps() const;

    QString m_artefacts;
    QScopedPointer<cDesktop> m_desktop;
    QScopedPointer<cChildProcess> m_updater;
    QScopedPointer<QTemporaryDir> m_root;
    QString m_window; // the main window's id
};

void tst_Gui::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("tesseract")).isEmpty())
        QSKIP("tesseract is not installed (package tesseract-ocr)");
    if (!windowsRelease().isEmpty()) {
        QVERIFY2(QFile::exists(windowsRelease() + QStringLiteral("/orvik-updater.exe")),
                 "no Windows release at ORVIK_GUI_WINDOWS_RELEASE");
        QVERIFY2(QFile::exists(qEnvironmentVariable("ORVIK_GUI_WINDOWS_TOOL")),
                 "no emulated Windows flashing tool at ORVIK_GUI_WINDOWS_TOOL");
        return;
    }
    if (!cOrvikEmulator::toolAvailable())
        QSKIP("Debian's dfu-util (/usr/bin/dfu-util) is not installed");
    // Without the preload the updater would see the machine's own serial ports.
    QVERIFY2(qEnvironmentVariable("LD_PRELOAD").contains(QLatin1String("libumockdev-preload")),
             "run this test under umockdev-wrapper");
}

void tst_Gui::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    m_desktop.reset(new cDesktop);
    QVERIFY2(m_desktop->problem().isEmpty(), qPrintable(m_desktop->problem()));

    const char *row = QTest::currentDataTag();
    const QString tag =
        QString::fromLatin1(row ? row : QTest::currentTestFunction()).replace(' ', '-');
    m_artefacts = QStringLiteral(ORVIK_GUI_ARTEFACTS "/") +
                  (windowsRelease().isEmpty() ? "" : "windows-") + tag;
    QDir(m_artefacts).removeRecursively();
    QVERIFY(QDir().mkpath(m_artefacts));
}

void tst_Gui::cleanup()
{
    if (m_updater && m_updater->state() != QProcess::NotRunning) {
        m_updater->kill();
        m_updater->waitForFinished();
        cInstanceGuard::removeLeftover(m_root->filePath(QStringLiteral("tmp")));
    }
    m_updater.reset();
    m_window.clear();
    // Wine's programs of this case go with the X server they showed on.
    if (!windowsRelease().isEmpty())
        QProcess::execute(QStringLiteral("wineserver"), {QStringLiteral("-k")});
    m_desktop.reset();
    m_root.reset();
}

QImage tst_Gui::screenshot(const QString &window, const QString &state, QString *path) const
{
    const QString file = QDir(m_artefacts).filePath(state + QStringLiteral(".png"));
    if (path)
        *path = file;
    return m_desktop->grab(window, file);
}

// Dark text on a light ground, three times the size, reads best; blanks are normalised.
QString tst_Gui::readText(const QImage &image, const QRect &area, bool lightOnDark) const
{
    QImage part = image.copy(area);
    if (lightOnDark)
        part.invertPixels();
    part = part.convertToFormat(QImage::Format_Grayscale8)
               .scaled(area.size() * 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QString file = m_root->filePath(QStringLiteral("ocr.png"));
    QString text;
    if (!part.save(file) ||
        !m_desktop->runHelper(QStringLiteral("tesseract"), {file, "stdout", "--psm", "6"}, &text))
        return QString();
    return text.simplified();
}

cLook tst_Gui::look(const QString &window, const QString &state) const
{
    cLook seen;
    const QImage image = screenshot(window, state, &seen.screenshot);
    if (!image.rect().contains(QRect(0, 0, 420, 240)))
        return seen;
    seen.message = readText(image, kMessageBox, true);
    seen.status = readText(image, kStatusLine, true);
    seen.selectFile = image.pixel(kSelectFileInside);
    seen.update = image.pixel(kUpdateInside);
    seen.messageBox = image.pixel(kMessageBoxInside);
    seen.messageText = brightest(image, kMessageText);
    return seen;
}

// Looks again until the window shows what is wanted; the last look is kept for the report.
template <typename Wanted>
bool tst_Gui::waitForLook(const QString &window, const QString &state, Wanted wanted,
                          cLook *seen) const
{
    const bool shown = eventually([&] {
        *seen = look(window, state);
        return wanted(*seen);
    });
    qInfo("Screenshot \"%s\": %s", qPrintable(state), qPrintable(seen->screenshot));
    return shown;
}

void tst_Gui::startUpdater(const QString &runDir)
{
    const QString home = m_root->filePath(QStringLiteral("home"));
    const QString runtime = m_root->filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(home + QStringLiteral("/Documents")));
    QVERIFY(QDir().mkpath(m_root->filePath(QStringLiteral("tmp"))));
    QVERIFY(QDir().mkpath(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    // The test's own environment, fake device tree included, with a private home, config
    // and guard directory; nothing that would pick another file dialog or scale.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
          "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
          "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI", "QT_MESSAGE_PATTERN", "QT_LOGGING_RULES"})
        environment.remove(QString::fromLatin1(name));
    environment = m_desktop->environment(environment);
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       m_root->filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    environment.insert(QStringLiteral("TMPDIR"), m_root->filePath(QStringLiteral("tmp")));

    m_updater.reset(new cChildProcess);
    m_updater->setWorkingDirectory(runDir);
    if (windowsRelease().isEmpty()) {
        m_updater->setProcessEnvironment(environment);
        m_updater->start(QStringLiteral(ORVIK_UPDATER_PATH), QStringList());
    } else {
        // As a user starts it: from the release folder, with nothing of the test preloaded.
        environment.remove(QStringLiteral("LD_PRELOAD"));
        environment.remove(QStringLiteral("UMOCKDEV_DIR"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_updater->setProcessEnvironment(environment);
        m_updater->start(qEnvironmentVariable("ORVIK_GUI_WINE_RUN"),
                         {windowsRelease() + QStringLiteral("/orvik-updater.exe")});
    }
    QVERIFY2(m_updater->waitForStarted(kWaitMs), qPrintable(m_updater->errorString()));
}

QByteArray tst_Gui::childEnvironment() const
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(m_updater->processId()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray tst_Gui::childMaps() const
{
    QFile file(QStringLiteral("/proc/%1/maps").arg(m_updater->processId()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The run directory, where the updater starts, holds the tool at its path; the image lies in
// a folder whose name has a blank. Starts the updater there, with its downloads held at their
// first command, and waits for its window.
QString tst_Gui::startWithImage(cDevice &device, const QByteArray &image)
{
    const QString runDir = m_root->filePath(QStringLiteral("run"));
    const QString firmware = m_root->filePath(QStringLiteral("firmware images/app.bin"));
    [&] {
        QVERIFY(device.emulator.isValid());
        if (windowsRelease().isEmpty()) {
            QVERIFY(cOrvikEmulator::installTool(runDir));
        } else {
            const QString tool = cExpected::toolIn(runDir);
            QVERIFY(QDir().mkpath(QFileInfo(tool).path()));
            QVERIFY(QFile::copy(qEnvironmentVariable("ORVIK_GUI_WINDOWS_TOOL"), tool));
        }
        device.emulator.holdDownloads();
        QVERIFY(QDir().mkpath(QFileInfo(firmware).path()));
        QFile file(firmware);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(image), qint64(image.size()));
    }();
    if (QTest::currentTestFailed())
        return firmware;
    startUpdater(runDir);
    if (QTest::currentTestFailed())
        return firmware;
    m_window = m_desktop->waitForWindow(kMainTitle, 0, kWaitMs);
    [&] {
        // Whether the updater is still there, and what it said: a failure here can be read
        // from the log alone.
        if (m_window.isEmpty())
            QFAIL(
                QByteArray("the main window did not appear; " + cChildProcess::describe(*m_updater))
                    .constData());
    }();
    return firmware;
}

// Select File, the path typed into the dialog's path field, Return.
void tst_Gui::selectThroughDialog(const QString &firmware)
{
    if (QTest::currentTestFailed())
        return;
    // A person clicks once the window is drawn.
    QVERIFY2(eventually([&] {
                 const QImage shown = m_desktop->grab(m_window);
                 return shown.valid(kSelectFileInside) &&
                        QColor(shown.pixel(kSelectFileInside)) == kWhite;
             }),
             "Select File was never drawn");
    QVERIFY(m_desktop->focus(m_window));
    QVERIFY(m_desktop->click(m_window, kSelectFileCentre));
    const QString dialog = m_desktop->waitForWindow(kDialogTitle, 0, kWaitMs);
    QVERIFY2(!dialog.isEmpty(), "Select File did not open the file dialog");
    QString typedPng;
    if (!windowsRelease().isEmpty()) {
        // Windows' own dialog: its file name box has the keyboard and takes a whole path.
        QString shownPng;
        QVERIFY(m_desktop->focus(dialog));
        QVERIFY2(eventually([&] { return !screenshot(dialog, "2-dialog", &shownPng).isNull(); }),
                 "the file dialog could not be seen");
        QVERIFY(m_desktop->type(QStringLiteral("Z:") + QString(firmware).replace('/', '\\')));
    } else {
        const QPoint pathField(m_desktop->size(dialog).width() - kPathFieldRightInset, kPathFieldY);
        QString dialogPng;
        QVERIFY2(eventually([&] {
                     const QImage shown =
                         screenshot(dialog, QStringLiteral("2-dialog"), &dialogPng);
                     return shown.valid(pathField) && QColor(shown.pixel(pathField)) == kWhite;
                 }),
                 qPrintable("the dialog's path field was not drawn, see " + dialogPng));
        qInfo("Screenshot \"2-dialog\": %s", qPrintable(dialogPng));
        // Into the path field: replace the folder shown there by the image's path, then Return.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        // Qt 6's dialog shows its folder as a bar of buttons; Ctrl+L makes it a path field.
        QVERIFY(m_desktop->focus(dialog));
        QVERIFY(m_desktop->key(QStringLiteral("ctrl+l")));
#else
        QVERIFY(m_desktop->click(dialog, pathField));
#endif
        QVERIFY(m_desktop->key(QStringLiteral("ctrl+a")));
        QVERIFY(m_desktop->type(firmware));
    }
    screenshot(dialog, QStringLiteral("3-dialog-typed"), &typedPng);
    qInfo("Screenshot \"3-dialog-typed\": %s", qPrintable(typedPng));
    QVERIFY(m_desktop->key(QStringLiteral("Return")));
    QVERIFY2(eventually([&] { return !m_desktop->isShown(kDialogTitle); }),
             qPrintable("the file dialog stayed open, see " + typedPng));
    // A person presses Update once the window shows the file and the button is lit; under
    // Wine the window takes clicks again only a moment after its dialog has gone.
    cLook seen;
    QVERIFY2(waitForLook(
                 m_window, QStringLiteral("4-selected"),
                 [](const cLook &look) {
                     // OCR may take a slash for a letter: the folder and the name suffice.
                     return look.message.contains(QLatin1String("Firmware file selected:")) &&
                            look.message.contains(QLatin1String("firmware images")) &&
                            look.message.contains(QLatin1String("app.bin ]")) &&
                            look.selectFile == kWhite && look.update == kWhite;
                 },
                 &seen),
             seen.describe().constData());
}

// Update, until the flashing run is held at its first command.
void tst_Gui::pressUpdate(cDevice &device)
{
    QVERIFY(m_desktop->click(m_window, kUpdateCentre));
    QVERIFY2(device.emulator.waitForHeldDownload(kWaitMs), "the flashing run did not start");
}

// The program started, the image chosen through the dialog, Update pressed, the run held.
void tst_Gui::startHeldUpdate(cDevice &device, const QByteArray &image)
{
    selectThroughDialog(startWithImage(device, image));
    if (!QTest::currentTestFailed())
        pressUpdate(device);
}

// Closed as a person closes it: the program ends normally.
void tst_Gui::closeAndExpectExit()
{
    QVERIFY(m_desktop->requestClose(m_window));
    QVERIFY(m_updater->waitForFinished(kWaitMs));
    QCOMPARE(m_updater->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_updater->exitCode(), 0);
    // Standard output is a text stream: on Windows its lines end with CR LF.
    const QByteArray lineEnd = windowsRelease().isEmpty() ? "\n" : "\r\n";
    QVERIFY(m_updater->readAllStandardOutput().endsWith("cUpdateDialog destroyed" + lineEnd));
}

void tst_Gui::success_data()
{
    QTest::addColumn<int>("productId"); // 0: no serial port, the device waits in its bootloader
    QTest::addColumn<int>("lateMs");    // the bootloader shows this long after the switch

    QTest::newRow("serial 0x5740") << 0x5740 << 0;
    QTest::newRow("serial, bootloader back after 4 s") << 0x5740 << 4000;
    QTest::newRow("already in bootloader") << 0 << 0;
}

void tst_Gui::success()
{
    QFETCH(int, productId);
    QFETCH(int, lateMs);
    const bool windows = !windowsRelease().isEmpty();
    if (productId && windows)
        QSKIP("Wine's COM ports carry no USB IDs: the serial road is proven on Linux");

    QVector<PortEntry> ports;
    if (productId)
        ports << PortEntry{0x0483, quint16(productId), QStringLiteral("USB Serial Device"),
                           Fault::None};
    cDevice device(ports);
    QVERIFY(device.emulator.isValid());
    // Written over a pattern: the image only comes out right if the flash was erased.
    device.emulator.setFlash(QByteArray(cOrvikEmulator::kFlashSize, '\x5a'));
    // Slow enough for the window to be read while the percentages rise.
    device.emulator.setFault(QStringLiteral("slow-erase"));
    if (!productId)
        device.emulator.startInBootloader();

    const QByteArray image = randomImage(kImageSize);
    const QString firmware = startWithImage(device, image);
    if (QTest::currentTestFailed())
        return;
    const QString window = m_window;

    // The program runs inside the fake device tree, not on the machine's own ports.
    if (!windows) {
        const QList<QByteArray> environment = childEnvironment().split('\0');
        QVERIFY2(environment.contains("UMOCKDEV_DIR=" + qgetenv("UMOCKDEV_DIR")),
                 "the updater did not inherit the testbed");
        QVERIFY2(childMaps().contains("libumockdev-preload"),
                 "umockdev is not loaded in the updater");
    }

    cLook seen;
    QVERIFY2(waitForLook(
                 window, QStringLiteral("1-start"),
                 [](const cLook &look) {
                     return look.message.contains(QLatin1String("Please select firmware file")) &&
                            look.selectFile == kWhite && look.update == kGrey;
                 },
                 &seen),
             seen.describe().constData());

    selectThroughDialog(firmware);
    if (QTest::currentTestFailed())
        return;

    if (productId)
        device.switchOnCommand(lateMs);
    QVERIFY(m_desktop->click(m_window, kUpdateCentre));
    if (lateMs) {
        // While the updater waits for the bootloader, a close asks first, and Escape keeps
        // the update going.
        QVERIFY(m_desktop->requestClose(window));
        const QString question = m_desktop->waitForWindow(kQuestionTitle, 0, kWaitMs);
        QVERIFY2(!question.isEmpty(), "closing while waiting for the bootloader did not ask");
        QVERIFY(m_desktop->focus(question));
        m_desktop->key(QStringLiteral("Escape"));
        QVERIFY2(eventually([&] { return !m_desktop->isShown(kQuestionTitle); }),
                 "Escape did not answer the question");
    }
    QVERIFY2(device.emulator.waitForHeldDownload(kWaitMs), "the flashing run did not start");
    if (productId)
        QCOMPARE(device.commandSeen(), kUpdateModeCommand);

    // The flashing run is held: the window must show the update in progress.
    QVERIFY2(waitForLook(
                 window, QStringLiteral("5-running"),
                 [](const cLook &look) {
                     return look.message.contains(
                                QLatin1String("Firmware Update in progress...")) &&
                            look.status.contains(cExpected::updating) && look.selectFile == kGrey &&
                            look.update == kGrey;
                 },
                 &seen),
             seen.describe().constData());

    // The percentages shown while the run goes on rise, the erase's in the first half and
    // the download's in the second.
    device.emulator.release();
    QList<int> shown;
    const QString progress = QStringLiteral("quit updater! (");
    int round = 0;
    QVERIFY2(eventually([&] {
                 seen = look(window, QStringLiteral("6-progress-%1").arg(++round));
                 const int at = seen.status.indexOf(progress);
                 if (at >= 0)
                     shown << seen.status.mid(at + progress.size()).section('%', 0, 0).toInt();
                 return cLook::finished(seen);
             }),
             seen.describe().constData());
    const QByteArray values = QByteArray::number(shown.size()) + " seen";
    QVERIFY2(!shown.isEmpty(), "no percentage was shown");
    QVERIFY2(cExpected::risesInHalves(shown), values.constData());
    QVERIFY2(std::all_of(shown.begin(), shown.end(), [](int v) { return v > 0 && v <= 100; }),
             values.constData());
    QVERIFY2(waitForLook(window, QStringLiteral("7-done"), &cLook::finished, &seen),
             seen.describe().constData());
    QVERIFY2(seen.message.contains(QLatin1String("Firmware Update SUCCESS")),
             seen.describe().constData());
    QVERIFY2(!seen.message.contains(QLatin1String("FAILED")), seen.describe().constData());
    QVERIFY2(seen.status.contains(QLatin1String("Update succeeded")), seen.describe().constData());
    QVERIFY2(seen.messageText == kWhite && seen.messageBox == kMessageBoxColour,
             seen.describe().constData());
    QVERIFY2(seen.selectFile == kWhite && seen.update == kWhite, seen.describe().constData());

    QCOMPARE(device.emulator.flash().left(kImageSize), image);
    // The tool wrote the updater's private copy of the image.
    const QList<QStringList> calls = device.emulator.calls();
    QVERIFY(!calls.isEmpty());
    QVERIFY(calls.last().value(7).contains(QLatin1String("pending-images")));
    // The path from the dialog, blank included, named the image: the log lies beside it. On
    // Windows the tool's lines end in CR LF, which the log's text mode writes as CR CR LF.
    QFile log(m_root->filePath(QStringLiteral("firmware images/app.OrvikUpdater.log")));
    QVERIFY2(log.open(QIODevice::ReadOnly), "no update log beside the image");
    const QByteArray text = log.readAll();
    const QByteArray toolLineEnd = windows ? "\r\r\n" : "\n";
    const QByteArray logLineEnd = windows ? "\r\n" : "\n";
    QVERIFY2(text.contains("Download done." + toolLineEnd), text.right(300).constData());
    QVERIFY2(text.startsWith(QByteArray(37, '-') + logLineEnd + "Output:" + logLineEnd),
             text.left(60).constData());

    closeAndExpectExit();
}

// A close during the update asks first; Escape keeps the update, and the question goes
// away by itself once the update has ended.
void tst_Gui::quitQuestion()
{
    cDevice device({});
    QVERIFY(device.emulator.isValid());
    device.emulator.startInBootloader();
    const QByteArray image = randomImage(kImageSize);
    startHeldUpdate(device, image);
    if (QTest::currentTestFailed())
        return;

    for (int round = 1; round <= 2; ++round) {
        QVERIFY(m_desktop->requestClose(m_window));
        const QString question = m_desktop->waitForWindow(kQuestionTitle, 0, kWaitMs);
        QVERIFY2(!question.isEmpty(), "closing during the update did not ask first");
        QString png;
        screenshot(question, QStringLiteral("question-%1").arg(round), &png);
        qInfo("Screenshot of the question: %s", qPrintable(png));
        QCOMPARE(m_updater->state(), QProcess::Running);
        if (round == 2)
            break;
        // The question can vanish between the key's press and release, making the press
        // report an error: whether it went away is what counts.
        QVERIFY(m_desktop->focus(question));
        m_desktop->key(QStringLiteral("Escape"));
        QVERIFY2(eventually([&] { return !m_desktop->isShown(kQuestionTitle); }),
                 "Escape did not answer the question");
        QVERIFY(m_desktop->isShown(kMainTitle));
    }

    // The run ends while the question is shown: it closes by itself, the window stays.
    device.emulator.release();
    QVERIFY2(eventually([&] { return !m_desktop->isShown(kQuestionTitle); }),
             "the question stayed after the update had ended");
    cLook seen;
    QVERIFY2(waitForLook(m_window, QStringLiteral("done"), &cLook::finished, &seen),
             seen.describe().constData());
    QVERIFY2(seen.message.contains(QLatin1String("SUCCESS")), seen.describe().constData());
    QCOMPARE(m_updater->state(), QProcess::Running);
    QCOMPARE(device.emulator.flash().left(kImageSize), image);

    closeAndExpectExit();
}

// The updater dies in the middle of the erase; the device is written to the end all the same
// and starts its new firmware.
void tst_Gui::killedMidRun()
{
    cDevice device({});
    QVERIFY(device.emulator.isValid());
    device.emulator.startInBootloader();
    // Long enough to be caught in the middle.
    device.emulator.setFault(QStringLiteral("slow-erase"));
    device.emulator.setFlash(QByteArray(cOrvikEmulator::kFlashSize, '\x5a'));
    const QByteArray image = randomImage(kImageSize);
    startHeldUpdate(device, image);
    if (QTest::currentTestFailed())
        return;

    device.emulator.release();
    QVERIFY2(eventually([&] { return !device.emulator.events().filter("erase").isEmpty(); }),
             "the erase did not begin");
    m_updater->kill();
    QVERIFY(m_updater->waitForFinished(kWaitMs));
    cInstanceGuard::removeLeftover(m_root->filePath(QStringLiteral("tmp")));

    QVERIFY2(device.emulator.waitForRestartIntoApplication(kWaitMs),
             "the device was left in its bootloader");
    QCOMPARE(device.emulator.flash().left(kImageSize), image);
}

// Windows, the bootloader without a driver: the updater offers the driver when it first sees
// that, and again when an update fails for it; "Not now" changes nothing, "Install driver"
// runs the helper (a stand-in that records its arguments) and says how it went.
void tst_Gui::driverOffer()
{
    if (windowsRelease().isEmpty())
        QSKIP("the driver is offered on Windows only; tst_window shows the Linux offer of access");
    cDevice device({});
    QVERIFY(device.emulator.isValid());
    device.emulator.startInBootloader();
    device.emulator.setFault(QStringLiteral("no-driver"));
    const QString runDir = m_root->filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(runDir));
    QVERIFY(QFile::copy(qEnvironmentVariable("ORVIK_GUI_WINDOWS_HELPER"),
                        runDir + QStringLiteral("/orvik-driver.exe")));
    QVERIFY(cFakeTool::writeScript(
        runDir, {}, {"out Installed\\n", "writeto --outcome-file Installed", "exit 0"}));
    const QString firmware = startWithImage(device, randomImage(kImageSize));
    if (QTest::currentTestFailed())
        return;

    // What the question says, as a person reads it.
    const auto questionSays = [this](const QString &window, const QString &state,
                                     const QString &wanted) {
        QString text;
        const bool said = eventually([&] {
            text = readText(screenshot(window, state), kDriverText, true);
            return text.contains(wanted);
        });
        qInfo("Driver question \"%s\": %s", qPrintable(state), qPrintable(text));
        return said;
    };

    QString question = m_desktop->waitForWindow(kDriverTitle, 0, kWaitMs);
    QVERIFY2(!question.isEmpty(), "a bootloader without a driver brought no offer");
    QVERIFY(questionSays(question, QStringLiteral("1-offered"),
                         QStringLiteral("Install the driver now?")));
    QVERIFY(m_desktop->focus(question));
    m_desktop->key(QStringLiteral("Escape"));
    QVERIFY2(eventually([&] { return !m_desktop->isShown(kDriverTitle); }),
             "Escape did not answer \"Not now\"");
    cLook seen;
    QVERIFY2(waitForLook(
                 m_window, QStringLiteral("2-not-now"),
                 [](const cLook &look) {
                     return look.status.contains(QLatin1String("but it has no driver"));
                 },
                 &seen),
             seen.describe().constData());

    selectThroughDialog(firmware);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(m_desktop->click(m_window, kUpdateCentre));
    question = m_desktop->waitForWindow(kDriverTitle, 0, kWaitMs);
    QVERIFY2(!question.isEmpty(), "the failed update brought no offer");
    // The question stands over the middle of the window; its status line shows below.
    QVERIFY2(waitForLook(
                 m_window, QStringLiteral("5-failed"),
                 [](const cLook &look) { return look.status.contains(cExpected::noDevice); },
                 &seen),
             seen.describe().constData());

    // "Install driver" has the keyboard.
    QVERIFY(m_desktop->focus(question));
    m_desktop->key(QStringLiteral("Return"));
    QVERIFY(questionSays(question, QStringLiteral("6-installed"),
                         QStringLiteral("press Update to write the firmware")));
    const QList<QStringList> calls = cFakeTool::callsIn(runDir);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().mid(0, 2), (QStringList{"install", "--outcome-file"}));
    // Now "Close" has it.
    m_desktop->key(QStringLiteral("Return"));
    QVERIFY2(eventually([&] { return !m_desktop->isShown(kDriverTitle); }),
             "Close did not close the question");
    closeAndExpectExit();
}

QTEST_GUILESS_MAIN(tst_Gui)
#include "tst_gui.moc"
