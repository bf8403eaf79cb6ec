// Runs the built program under a private virtual X server and drives it the way a user
// would: it watches the windows appear, closes them, dismisses the notice and looks at
// the pixels on screen.

#include "cChildProcess.h"
#include "cDesktop.h"
#include "cExpected.h"
#include "cImageCopy.h"
#include "cInstanceGuard.h"
#include "cPoll.h"

#include <QApplication>
#include <QColor>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QProcess>
#include <QScopedPointer>
#include <QSharedMemory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {
const int kWaitMs = 30000;
const QString kTitle = QStringLiteral("Orvik Firmware Updater");
const QString kDialogTitle = QStringLiteral("Select Firmware file to load");
// Standard output is a text stream: on Windows its lines end with CR LF.
const QByteArray kBanner = cExpected::textMode("Orvik Updater\n");
const QByteArray kBothLines = cExpected::textMode("Orvik Updater\ncUpdateDialog destroyed\n");
const char kNotice[] = "Orvik Updater is already running. Only one instance can run at once.";
const char kShowNotice[] = "--show-notice";
// -1, as the system reports an exit status.
#ifdef Q_OS_WIN
const int kWindowFailedExit = -1;
#else
const int kWindowFailedExit = 255;
#endif

// What the process has written to standard output so far, left in place.
QByteArray outputSoFar(QProcess *process)
{
    QCoreApplication::processEvents();
    return process->peek(4096);
}

// The program's windows come and go at their own pace.
template <typename Check> bool eventually(Check check)
{
    return cPoll::until(check, kWaitMs);
}

bool finished(QProcess *process)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(kWaitMs);
}

#ifdef Q_OS_WIN
bool copyFolder(const QString &from, const QString &to)
{
    QDirIterator entries(from, QDir::Files, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString file = entries.next();
        const QString target = QDir(to).filePath(QDir(from).relativeFilePath(file));
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(file, target))
            return false;
    }
    return true;
}
#endif
} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void bannerAndClosingLines();
    void windowLooksRight();
    void laterStartsAreRefused_data();
    void laterStartsAreRefused();
    void startsAfterPreviousEnded_data();
    void startsAfterPreviousEnded();
    void windowThatFailsToLoadEndsWithMinusOne();
    void keyboardOnly_data();
    void keyboardOnly();

private:
    enum PreviousEnd
    {
        Closed,
        WindowFailed,
        Killed,
        // and then its key file removed, as a cleaner of the temporary folder may
        KilledKeyFileGone
    };

    QProcess *launch(const QString &program, const QStringList &arguments = {});
    QString windowOf(const QProcess *process, const QString &title = QString()) const;
    QString brokenProgram() const;
    void closeNormally(QProcess *process, const QString &window);
    void endedNormally(QProcess *process);

    QScopedPointer<cDesktop> m_desktop;
    QTemporaryDir m_root;
    QScopedPointer<QTemporaryDir> m_work;
    QList<QProcess *> m_started;
};

void tst_Startup::initTestCase()
{
    m_desktop.reset(new cDesktop);
    if (!m_desktop->problem().isEmpty())
        QSKIP(qPrintable(m_desktop->problem()));
    QVERIFY(m_root.isValid());

    for (const char *name :
         {"QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
          "QT_MESSAGE_PATTERN", "QT_LOGGING_RULES"})
        qunsetenv(name);
    // The guard's key is derived from a file in the temporary directory, so a private
    // one keeps this suite apart from any other instance on the machine.
    qputenv("TMPDIR", QFile::encodeName(m_root.path()));
    // The program's data folder, where it keeps its copy of an image during a run.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_root.filePath(QStringLiteral("data"))));
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrane Audio"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Updater"));
}

void tst_Startup::cleanupTestCase()
{
    m_desktop.reset();
}

void tst_Startup::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    QCOMPARE(cInstanceGuard::attachments(), -1);
}

void tst_Startup::cleanup()
{
    bool killed = false;
    for (QProcess *process : qAsConst(m_started)) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
            killed = true;
        }
        delete process;
    }
    m_started.clear();
    // A killed instance leaves its segment behind; remove it so the next test starts clean.
    if (killed)
        cInstanceGuard::removeLeftover();
    m_work.reset();
}

QProcess *tst_Startup::launch(const QString &program, const QStringList &arguments)
{
    auto *process = new cChildProcess;
    m_started.append(process);
    process->setProcessEnvironment(
        m_desktop->environment(QProcessEnvironment::systemEnvironment()));
    process->setWorkingDirectory(m_work->path());
    process->start(program, arguments);
    return process;
}

// The first window of a process whose title matches (any title if empty), once it appears.
QString tst_Startup::windowOf(const QProcess *process, const QString &title) const
{
    return m_desktop->waitForWindow(title, process->processId());
}

// A copy of the program with a QtQuick.Window beside it whose Window is no QML at all: the
// program's own folder is searched for modules first, so main.qml cannot be created. Qt 5
// looks for the module in a folder named with its major version, Qt 6 in one without. On
// Windows the program's folder holds its run-time too, so all of it is copied.
QString tst_Startup::brokenProgram() const
{
    const QString dir = m_work->filePath(QStringLiteral("broken"));
    const QFileInfo original(QStringLiteral(ORVIK_UPDATER_PATH));
    const QString program = QDir(dir).filePath(original.fileName());
#ifdef Q_OS_WIN
    if (!copyFolder(original.path(), dir))
        return QString();
#else
    if (!QDir().mkpath(dir) || !QFile::copy(original.filePath(), program))
        return QString();
#endif
    for (const QString &module : {dir + "/QtQuick/Window.2", dir + "/QtQuick/Window"}) {
        QFile qmldir(module + "/qmldir");
        QFile window(module + "/OrvikBrokenWindow.qml");
        if (!QDir().mkpath(module) || !qmldir.open(QIODevice::WriteOnly) ||
            !window.open(QIODevice::WriteOnly))
            return QString();
        qmldir.write("module QtQuick.Window\nWindow 2.0 OrvikBrokenWindow.qml\n");
        window.write("this is no QML\n");
    }
    return program;
}

void tst_Startup::closeNormally(QProcess *process, const QString &window)
{
    QVERIFY(m_desktop->requestClose(window));
    endedNormally(process);
}

void tst_Startup::endedNormally(QProcess *process)
{
    // Read only on failure: the checks below need the output whole.
    if (!finished(process))
        QFAIL(QByteArray("the updater did not end after the close; " +
                         cChildProcess::describe(*process))
                  .constData());
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(process->readAllStandardOutput(), kBothLines);
    QCOMPARE(cInstanceGuard::attachments(), -1);
    // A quiet close: the window's bindings do not trip over the controller that went first.
    const QByteArray errors = process->readAllStandardError();
    QVERIFY2(!errors.contains("qrc:/") && !errors.contains("Error:"), errors.constData());
}

void tst_Startup::bannerAndClosingLines()
{
    QProcess *updater = launch(ORVIK_UPDATER_PATH);
    QVERIFY2(updater->waitForStarted(kWaitMs), qPrintable(updater->errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(outputSoFar(updater), kBanner, kWaitMs);

    const QString window = windowOf(updater, kTitle);
    QVERIFY2(!window.isEmpty(), "the main window did not appear");
    QCOMPARE(outputSoFar(updater), kBanner);
    QCOMPARE(cInstanceGuard::attachments(), 1);
    closeNormally(updater, window);
}

void tst_Startup::windowLooksRight()
{
    QProcess *updater = launch(ORVIK_UPDATER_PATH);
    QVERIFY(updater->waitForStarted(kWaitMs));
    const QString window = windowOf(updater, kTitle);
    QVERIFY2(!window.isEmpty(), "the main window did not appear");

    QCOMPARE(m_desktop->size(window), QSize(420, 240));

    // No file is selected yet: Select File is active, Update is greyed out.
    const struct
    {
        const char *what;
        QPoint at;
        const char *colour;
    } samples[] = {
        {"background top left", {5, 5}, "#1a1a1a"},
        {"background bottom right", {410, 230}, "#1a1a1a"},
        {"margin right of the message box", {408, 50}, "#1a1a1a"},
        {"message box", {25, 25}, "#2a2a2a"},
        {"gap below the message box", {210, 85}, "#1a1a1a"},
        {"Select File button", {165, 95}, "#ffffff"},
        {"gap between the buttons", {210, 145}, "#1a1a1a"},
        {"Update button", {165, 155}, "#808080"},
        {"left of the Update button", {150, 175}, "#1a1a1a"},
        {"empty status line", {5, 220}, "#1a1a1a"},
    };
    QStringList expected;
    for (const auto &sample : samples)
        expected << QStringLiteral("%1 %2").arg(QLatin1String(sample.what), sample.colour);

    const QString png = QDir(QCoreApplication::applicationDirPath())
                            .filePath(QStringLiteral("tst_startup-window.png"));
    // The window can be mapped before its first frame is drawn.
    QStringList seen;
    eventually([&] {
        const QImage image = m_desktop->grab(window, png);
        seen.clear();
        for (const auto &sample : samples)
            seen << QStringLiteral("%1 %2").arg(
                QLatin1String(sample.what),
                image.valid(sample.at) ? QColor(image.pixel(sample.at)).name() : "none");
        return seen == expected;
    });
    QCOMPARE(seen, expected);
    qInfo("Screenshot of the window: %s", qPrintable(png));

    closeNormally(updater, window);
}

void tst_Startup::laterStartsAreRefused_data()
{
    QTest::addColumn<int>("refusedStarts");
    QTest::newRow("second start") << 1;
    QTest::newRow("second and third start") << 2;
}

void tst_Startup::laterStartsAreRefused()
{
    QFETCH(int, refusedStarts);

    QProcess *first = launch(ORVIK_UPDATER_PATH);
    QVERIFY(first->waitForStarted(kWaitMs));
    const QString window = windowOf(first, kTitle);
    QVERIFY2(!window.isEmpty(), "the main window did not appear");

    // The notice as the framework draws it with that text and nothing else set, placed
    // where it does not cover the program's own.
    QProcess *reference = launch(QCoreApplication::applicationFilePath(), {kShowNotice, kNotice});
    QVERIFY(reference->waitForStarted(kWaitMs));
    const QString referenceBox = windowOf(reference);
    QVERIFY2(!referenceBox.isEmpty(), "the reference notice did not appear");

    const QDir artefacts(QCoreApplication::applicationDirPath());
    for (int start = 1; start <= refusedStarts; ++start) {
        QProcess *later = launch(ORVIK_UPDATER_PATH);
        QVERIFY(later->waitForStarted(kWaitMs));
        const QString box = windowOf(later);
        QVERIFY2(!box.isEmpty(), "the already-running notice did not appear");

        const QString boxPng = artefacts.filePath(QStringLiteral("tst_startup-notice.png"));
        const QString referencePng = artefacts.filePath(QStringLiteral("tst_startup-expected.png"));
        // Each seen as the window with the keyboard, which Windows draws differently.
        const bool same = eventually([&] {
            if (!m_desktop->focus(referenceBox))
                return false;
            const QImage expected = m_desktop->grab(referenceBox, referencePng);
            if (!m_desktop->focus(box))
                return false;
            const QImage shown = m_desktop->grab(box, boxPng);
            return !shown.isNull() && shown == expected;
        });
        QVERIFY2(same, qPrintable("the notice differs from the expected one, see " + boxPng));
        QCOMPARE(later->state(), QProcess::Running);

        // Return presses the default button. The notice may vanish before the key is released,
        // making the press report an error, so its end is what counts.
        QVERIFY(m_desktop->focus(box));
        m_desktop->key(QStringLiteral("Return"));
        QVERIFY(finished(later));
        QCOMPARE(later->exitStatus(), QProcess::NormalExit);
        QCOMPARE(later->exitCode(), 0);
        QCOMPARE(later->readAllStandardOutput(), kBanner);
        const QStringList debugLines =
            QString::fromLocal8Bit(later->readAllStandardError()).remove('\r').split('\n');
        QCOMPARE(
            debugLines.count(QStringLiteral("An instance of Orvik Updater is already running.")),
            1);

        // The running instance is left alone.
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(windowOf(first, kTitle), window);
        QCOMPARE(cInstanceGuard::attachments(), 1);
    }
    QCOMPARE(outputSoFar(first), kBanner);
    closeNormally(first, window);
}

void tst_Startup::startsAfterPreviousEnded_data()
{
    QTest::addColumn<int>("previousEnd");
    QTest::newRow("after a normal close") << int(Closed);
    QTest::newRow("after a window that failed to load") << int(WindowFailed);
    QTest::newRow("after SIGKILL") << int(Killed);
    QTest::newRow("after SIGKILL, its key file removed") << int(KilledKeyFileGone);
}

void tst_Startup::startsAfterPreviousEnded()
{
    QFETCH(int, previousEnd);

    QProcess *previous =
        launch(previousEnd == WindowFailed ? brokenProgram() : QStringLiteral(ORVIK_UPDATER_PATH));
    QVERIFY(previous->waitForStarted(kWaitMs));
    if (previousEnd == WindowFailed) {
        QVERIFY(finished(previous));
        QCOMPARE(previous->exitCode(), kWindowFailedExit);
        QCOMPARE(cInstanceGuard::attachments(), -1);
    } else {
        const QString window = windowOf(previous, kTitle);
        QVERIFY2(!window.isEmpty(), "the first window did not appear");
        if (previousEnd == Closed) {
            closeNormally(previous, window);
            if (QTest::currentTestFailed())
                return;
        } else {
            previous->kill();
            QVERIFY(finished(previous));
            if (cInstanceGuard::attachments() != 0)
                qInfo("This system removed the killed instance's segment: nothing is left over.");
        }
    }

    // The copy of an image that a run of a killed updater may have left.
    const QString leftover =
        QDir(cImageCopy::folder()).filePath(QStringLiteral("image-Ab12Cd.bin"));
    QVERIFY(QDir().mkpath(cImageCopy::folder()));
    QVERIFY(QFile(leftover).open(QIODevice::WriteOnly));

    const int leftKey = cInstanceGuard::key();
    if (previousEnd == KilledKeyFileGone) {
        if (leftKey == -1 || cInstanceGuard::attachments() != 0)
            QSKIP("Here no segment is left keyed by a file: there is no key file to lose");
        QVERIFY(QFile::remove(QSharedMemory(cExpected::guardKey).nativeKey()));
    }
    QProcess *next = launch(ORVIK_UPDATER_PATH);
    QVERIFY(next->waitForStarted(kWaitMs));
    const QString window = windowOf(next, kTitle);
    QVERIFY2(!window.isEmpty(), "the next start did not show its window");
    QVERIFY2(!QFile::exists(leftover), "a copy of an earlier run was left in place");
    QCOMPARE(outputSoFar(next), kBanner);
    QCOMPARE(cInstanceGuard::attachments(), 1);
    // The leftover segment is in the way only when the new key file gets the removed one's
    // inode, as ext4 mostly gives it at once.
    const bool sameKey = cInstanceGuard::key() == leftKey;
    closeNormally(next, window);
    if (previousEnd == KilledKeyFileGone && !sameKey) {
        cInstanceGuard::removeSegment(leftKey);
        QSKIP("The new key file got another inode: the leftover segment was not in the way");
    }
}

void tst_Startup::windowThatFailsToLoadEndsWithMinusOne()
{
    const QString program = brokenProgram();
    QVERIFY(!program.isEmpty());
    QProcess *updater = launch(program);
    QVERIFY(updater->waitForStarted(kWaitMs));
    QVERIFY(finished(updater));

    QCOMPARE(updater->exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater->exitCode(), kWindowFailedExit);
    QCOMPARE(updater->readAllStandardOutput(), kBothLines);
    QVERIFY(updater->readAllStandardError().contains("failed to load component"));
    QCOMPARE(cInstanceGuard::attachments(), -1);
}

// Without a mouse: Space on Select File, which has the focus, opens the file dialog, and
// Escape closes it again.
void tst_Startup::keyboardOnly_data()
{
    QTest::addColumn<int>("rounds");
    QTest::addColumn<bool>("pick");
    QTest::addColumn<bool>("closeWhileOpen");
    QTest::newRow("Escape") << 1 << false << false;
    // A close just after the native dialog had gone once crashed under Wine.
    QTest::newRow("Escape, five times") << 5 << false << false;
    QTest::newRow("file picked") << 1 << true << false;
    QTest::newRow("window closed while the dialog is open") << 1 << false << true;
}

void tst_Startup::keyboardOnly()
{
    QFETCH(int, rounds);
    QFETCH(bool, pick);
    QFETCH(bool, closeWhileOpen);
#ifndef Q_OS_WIN
    if (pick)
        QSKIP("a path is typed into the native dialog of Windows only");
#endif
    const QString image = m_work->filePath(QStringLiteral("fw.bin"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(64, '\0')) == 64);
    file.close();

    for (int round = 0; round < rounds; ++round) {
        QProcess *updater = launch(ORVIK_UPDATER_PATH);
        QVERIFY(updater->waitForStarted(kWaitMs));
        const QString window = windowOf(updater, kTitle);
        QVERIFY2(!window.isEmpty(), "the main window did not appear");

        // What a window manager does with a new window: it gets the keyboard.
        QVERIFY(m_desktop->focus(window));
        QVERIFY(m_desktop->key(QStringLiteral("space")));
        const QString dialog = windowOf(updater, kDialogTitle);
        QVERIFY2(!dialog.isEmpty(), "Space on Select File did not open the file dialog");
        // A person waits for the dialog to be drawn, settled, and to have the keyboard. It
        // can vanish before the key's release has been sent.
        QImage before;
        QVERIFY2(eventually([&] {
                     const QImage shown = m_desktop->grab(dialog);
                     const bool settled =
                         !shown.isNull() && shown == before &&
                         shown.pixel(0, 0) != shown.pixel(shown.width() / 2, shown.height() / 2);
                     before = shown;
                     return settled;
                 }),
                 "the file dialog was never drawn");
        QVERIFY(m_desktop->focus(dialog));
        // The dialog is modal. Windows holds a close of the window back until the dialog has
        // gone; elsewhere Qt drops a close that reaches a window under a modal one.
        if (closeWhileOpen)
            QVERIFY(m_desktop->requestClose(window));
        if (pick) {
            // The file name box has the keyboard.
            QVERIFY(m_desktop->type(QDir::toNativeSeparators(image)));
            m_desktop->key(QStringLiteral("Return"));
        } else {
            m_desktop->key(QStringLiteral("Escape"));
        }
        // How the updater ended, if it did, tells more than the window that is missing.
        const auto failure = [updater](const char *what) {
            return QByteArray(what) + "; " + cChildProcess::describe(*updater);
        };
        if (!eventually([&] { return !m_desktop->isShown(kDialogTitle); }))
            QFAIL(failure("the file dialog did not close").constData());
#ifdef Q_OS_WIN
        if (closeWhileOpen) {
            endedNormally(updater);
            if (QTest::currentTestFailed())
                return;
            continue;
        }
#endif
        // The window takes the keyboard back, and with it the user's next close.
        if (!eventually([&] { return m_desktop->hasFocus(window); }))
            QFAIL(failure("the window did not take the keyboard back").constData());
        // Update lights up once the picked file is the window's.
        if (pick)
            QVERIFY2(eventually(
                         [&] { return m_desktop->grab(window).pixelColor(165, 155) == Qt::white; }),
                     "the picked file did not reach the window");
        closeNormally(updater, window);
        if (QTest::currentTestFailed())
            return;
    }
}

int main(int argc, char *argv[])
{
    // The test starts itself in this mode to show the notice it expects from the program.
    if (argc == 3 && std::strcmp(argv[1], kShowNotice) == 0) {
        QApplication app(argc, argv);
        QMessageBox box;
        box.setText(QString::fromUtf8(argv[2]));
        box.move(0, 800);
        return box.exec();
    }
    QCoreApplication app(argc, argv);
    tst_Startup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
