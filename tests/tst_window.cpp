#include "cDevicePresence.h"
#include "cDeviceAccess.h"
#include "cExpected.h"
#include "cFakeTool.h"
#include "cLocalFilePath.h"
#include "cUdevRules.h"
#include "cUpdateDialog.h"
#include "cWindowSetup.h"
#include "eUpdateState.h"

#include <QAccessible>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QJSValue>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlIncubationController>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

namespace {
const QString kFoundBootloader = cFakeTool::bootloaderListed;
const QString kNothingFound = QStringLiteral("out dfu-util 0.11\\n\\n");
// A listing's line for a bootloader it saw but could not open, "%1" telling why.
const QString kCannotOpen =
    QStringLiteral("err Cannot open DFU device 0483:df11 found on devnum 5 (%1)\\n");
// Keeps the flashing run going until the test writes "ack-1".
const QString kHoldRun = QStringLiteral("chunk Opening DFU capable USB device...\\n");
// The whole image written, the bootloader gone at the leave request: the attempt then waits
// for the Orvik to come back, which it never does here.
const QString kLeftAtLeave =
    QStringLiteral("out File downloaded successfully\\nSubmitting leave request...\\n\n"
                   "err dfu-util: Error during download get_status\\n\nexit 74");
const QString kNoFile = QStringLiteral("Please select firmware file (*.bin)");
const QString kUpdating = cExpected::updating;
const QString kNoDevice = cExpected::noDevice;
const QColor kWhite(QStringLiteral("#ffffff"));
const QColor kGrey(QStringLiteral("#808080"));
constexpr int kRunTimeoutMs = 60000;
#ifdef Q_OS_WIN
const QString kSystem = QStringLiteral("Windows");
#else
const QString kSystem = QStringLiteral("Linux");
#endif
// The file dialog's start folder, as each toolkit's dialog names it.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
const char kFolderProperty[] = "currentFolder";
#else
const char kFolderProperty[] = "folder";
#endif

struct Node
{
    const char *name;
    const char *parent; // null: the window's content item
    int index;
    const char *type;
};
// Parents before children, so that each parent is found before it is needed.
const Node kTree[] = {{"rectMain", nullptr, 0, "QQuickRectangle"},
                      {"mainCol", "rectMain", 0, "QQuickColumn"},
                      {"rectMessage", "mainCol", 0, "QQuickRectangle"},
                      {"message", "rectMessage", 0, "QQuickText"},
                      {"open", "mainCol", 1, "QQuickRectangle"},
                      {"openLabel", "open", 0, "QQuickText"},
                      {"openArea", "open", 1, "QQuickMouseArea"},
                      {"update", "mainCol", 2, "QQuickRectangle"},
                      {"updateLabel", "update", 0, "QQuickText"},
                      {"updateArea", "update", 1, "QQuickMouseArea"},
                      {"statusInfo", "rectMain", 1, "QQuickText"}};

// The flash section of the stand-in that ends a started attempt in "state".
QString flashFor(int state)
{
    return state == eUpdateInProgress
               ? kHoldRun
               : QStringLiteral("exit %1").arg(state == eUpdateSucceeded ? 0 : 1);
}

// A key of a data row by its name.
Qt::Key keyNamed(const QString &name)
{
    static const QHash<QString, Qt::Key> keys{
        {QStringLiteral("Escape"), Qt::Key_Escape},   {QStringLiteral("Tab"), Qt::Key_Tab},
        {QStringLiteral("Backtab"), Qt::Key_Backtab}, {QStringLiteral("Space"), Qt::Key_Space},
        {QStringLiteral("Enter"), Qt::Key_Enter},     {QStringLiteral("Return"), Qt::Key_Return}};
    return keys.value(name, Qt::Key_unknown);
}

QQuickItem *childItem(QQuickItem *parent, int index)
{
    const QList<QQuickItem *> children = parent ? parent->childItems() : QList<QQuickItem *>();
    return index < children.size() ? children.at(index) : nullptr;
}
} // namespace

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void properties_data();
    void properties();
    void texts_data();
    void texts();
    void geometry_data();
    void geometry();
    void states_data();
    void states();
    void longPathWraps();
    void statusLineFits_data();
    void statusLineFits();
    void clickUpdate_data();
    void clickUpdate();
    void chooseFile_data();
    void chooseFile();
    void closeDuringUpdate_data();
    void closeDuringUpdate();
    void keyboard_data();
    void keyboard();
    void focusRing();
    void screenReader_data();
    void screenReader();
    void drop_data();
    void drop();
    void presenceGivesWay_data();
    void presenceGivesWay();
    void accessOffer_data();
    void accessOffer();
    void accessSetUp_data();
    void accessSetUp();

private:
    void selectFile() { m_app->setSelectedFirmwareFile(firmwarePath()); }
    QString firmwarePath() const { return m_tool->filePath(QStringLiteral("fw.bin")); }
    // Drives the controller through startUpdate to "state" (1, 2 or 3); "run" is the
    // stand-in's flash section (its lines apart by line feeds), or "no device" for a listing
    // without the bootloader.
    void runUpdate(const QString &run, int state);
    void click(QQuickItem *item);
    // The file dialog, made without opening it when "create" and not made yet.
    QObject *fileDialog(bool create);
    // The dialog's own window, while it is shown.
    static QWindow *dialogWindow();
    // A top-level window of that title, while it is shown.
    static QWindow *shownWindow(const QString &title);

    std::unique_ptr<cFakeTool> m_tool;
    std::unique_ptr<cUpdateDialog> m_app;
    std::unique_ptr<cLocalFilePath> m_localFilePath;
    std::unique_ptr<cDevicePresence> m_presence;
    std::unique_ptr<cDeviceAccess> m_access;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    QHash<QString, QQuickItem *> m_items;
    QStringList m_qmlWarnings;
};

void tst_Window::init()
{
    m_tool = std::make_unique<cFakeTool>();
    QVERIFY(m_tool->isValid());
    m_tool->image(QStringLiteral("fw.bin"));
    m_qmlWarnings.clear();

    // Loaded the way the program does it.
    m_app = std::make_unique<cUpdateDialog>(nullptr);
    m_localFilePath = std::make_unique<cLocalFilePath>();
    m_presence = std::make_unique<cDevicePresence>();
    m_access = std::make_unique<cDeviceAccess>();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    connect(m_engine.get(), &QQmlEngine::warnings, this, [this](const QList<QQmlError> &warnings) {
        for (const QQmlError &warning : warnings)
            m_qmlWarnings << warning.toString();
    });
    cWindowSetup::publish(*m_engine, m_app.get(), m_localFilePath.get(), m_presence.get(),
                          m_access.get());
    QSignalSpy created(m_engine.get(), &QQmlApplicationEngine::objectCreated);
    m_engine->load(QUrl(QStringLiteral("qrc:/main.qml")));
    QCOMPARE(created.count(), 1);
    m_window = qobject_cast<QQuickWindow *>(created.at(0).at(0).value<QObject *>());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));

    // The QML has ids only: the tree is walked in declaration order.
    for (const Node &node : kTree) {
        QQuickItem *parent =
            node.parent ? m_items.value(QLatin1String(node.parent)) : m_window->contentItem();
        QQuickItem *item = childItem(parent, node.index);
        QVERIFY2(item && item->inherits(node.type), node.name);
        m_items.insert(QLatin1String(node.name), item);
    }
    // The file dialog is made when it is first needed, not with the window.
    QVERIFY(!fileDialog(false));
}

void tst_Window::cleanup()
{
    // A held run is let go, so that no stand-in outlives the test.
    if (m_tool) {
        QFile ack(m_tool->filePath(QStringLiteral("ack-1")));
        ack.open(QIODevice::WriteOnly);
    }
    if (m_app)
        m_app->WaitForUpdate();
    // An opened file dialog builds its folder view asynchronously.
    if (m_engine && m_engine->incubationController())
        QTRY_COMPARE(m_engine->incubationController()->incubatingObjectCount(), 0);
    m_engine.reset();
    m_localFilePath.reset();
    m_presence.reset();
    m_access.reset();
    m_app.reset();
    m_window = nullptr;
    m_items.clear();
    m_tool.reset();
    QVERIFY2(m_qmlWarnings.isEmpty(), qPrintable(m_qmlWarnings.join(QLatin1Char('\n'))));
}

void tst_Window::runUpdate(const QString &run, int state)
{
    if (run == QLatin1String("no device"))
        m_tool->setScript({kNothingFound}, {QStringLiteral("exit 0")});
    else
        m_tool->setScript({kFoundBootloader}, run.split(QLatin1Char('\n')));
    m_app->startUpdate();
    if (state != eUpdateInProgress)
        QTRY_VERIFY_WITH_TIMEOUT(m_app->status() != eUpdateInProgress, kRunTimeoutMs);
    QCOMPARE(int(m_app->status()), state);
}

void tst_Window::click(QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

QObject *tst_Window::fileDialog(bool create)
{
    auto *dialog = m_window->findChild<QObject *>(QStringLiteral("selectDialog"));
    if (dialog || !create)
        return dialog;
    auto *loader = m_window->findChild<QObject *>(QStringLiteral("fileDialogLoader"));
    if (!loader || !loader->setProperty("active", true))
        return nullptr;
    return m_window->findChild<QObject *>(QStringLiteral("selectDialog"));
}

QWindow *tst_Window::dialogWindow()
{
    return shownWindow(QStringLiteral("Select Firmware file to load"));
}

QWindow *tst_Window::shownWindow(const QString &title)
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->title() == title)
            return window;
    }
    return nullptr;
}

void tst_Window::properties_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");

    const auto row = [](const char *object, const char *name, const QVariant &value) {
        QTest::addRow("%s.%s", object, name)
            << QString::fromLatin1(object) << QByteArray(name) << value;
    };
    row("root", "title", QStringLiteral("Orvik Firmware Updater"));
    row("root", "flags", int(Qt::Dialog));
    row("root", "width", 420);
    row("root", "height", 240);
    row("root", "visible", true);
    row("rectMain", "color", QColor(QStringLiteral("#1a1a1a")));
    row("rectMessage", "color", QColor(QStringLiteral("#2a2a2a")));
    row("rectMessage", "radius", 5.0);
    row("open", "radius", 5.0);
    row("update", "radius", 5.0);
    row("message", "wrapMode", 4); // Text.Wrap
    row("selectDialog", "title", QStringLiteral("Select Firmware file to load"));
    row("selectDialog", "nameFilters", QStringList{QStringLiteral("Firmware files (*.bin)")});
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    row("selectDialog", "fileMode", 0); // FileDialog.OpenFile: one existing file
#else
    row("selectDialog", "selectExisting", true);
    row("selectDialog", "selectMultiple", false);
    row("selectDialog", "selectFolder", false);
#endif
    row("selectDialog", "visible", false);
    // With no image chosen yet, the dialog starts in the documents folder.
    row("selectDialog", kFolderProperty,
        QUrl::fromLocalFile(
            QStandardPaths::standardLocations(QStandardPaths::DocumentsLocation).value(0)));
}

void tst_Window::properties()
{
    QFETCH(QString, object);
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);

    QObject *target = object == QLatin1String("root")           ? m_window
                      : object == QLatin1String("selectDialog") ? fileDialog(true)
                                                                : m_items.value(object);
    QVariant actual = target->property(name.constData());
    // Enumerations and flags come as their own types.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QVERIFY(actual.convert(value.metaType()));
#else
    QVERIFY(actual.convert(value.userType()));
#endif
    QCOMPARE(actual, value);
}

void tst_Window::geometry_data()
{
    QTest::addColumn<QSize>("windowSize");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QRectF>("rect");

    const QSize small(420, 240);
    const QSize large(600, 400);
    QTest::newRow("default: rectMain") << small << "rectMain" << QRectF(0, 0, 420, 240);
    QTest::newRow("default: mainCol") << small << "mainCol" << QRectF(20, 20, 380, 200);
    QTest::newRow("default: rectMessage") << small << "rectMessage" << QRectF(20, 20, 380, 60);
    QTest::newRow("default: message") << small << "message" << QRectF(20, 29, 380, 42);
    QTest::newRow("default: open") << small << "open" << QRectF(160, 90, 100, 50);
    QTest::newRow("default: update") << small << "update" << QRectF(160, 150, 100, 50);
    QTest::newRow("default: statusInfo") << small << "statusInfo" << QRectF(0, 210, 420, 20);
    QTest::newRow("resized: rectMain") << large << "rectMain" << QRectF(0, 0, 600, 400);
    QTest::newRow("resized: mainCol") << large << "mainCol" << QRectF(20, 20, 560, 360);
    QTest::newRow("resized: rectMessage") << large << "rectMessage" << QRectF(20, 20, 560, 60);
    QTest::newRow("resized: message") << large << "message" << QRectF(20, 29, 560, 42);
    QTest::newRow("resized: open") << large << "open" << QRectF(250, 90, 100, 50);
    QTest::newRow("resized: update") << large << "update" << QRectF(250, 150, 100, 50);
    QTest::newRow("resized: statusInfo") << large << "statusInfo" << QRectF(0, 370, 600, 20);
}

void tst_Window::geometry()
{
    QFETCH(QSize, windowSize);
    QFETCH(QString, item);
    QFETCH(QRectF, rect);

    if (windowSize != m_window->size()) {
        m_window->resize(windowSize);
        QTRY_COMPARE(m_items.value(QStringLiteral("rectMain"))->size(), QSizeF(windowSize));
    }
    QQuickItem *target = m_items.value(item);
    QCOMPARE(QRectF(target->mapToItem(nullptr, QPointF(0, 0)), target->size()), rect);
}

void tst_Window::texts_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<qreal>("pointSize");
    QTest::addColumn<QColor>("colour");

    const QColor black(QStringLiteral("#000000"));
    QTest::newRow("message") << "message" << kNoFile << 14 << -1.0 << kWhite;
    QTest::newRow("Select File label") << "openLabel"
                                       << "Select File" << -1 << 12.0 << black;
    QTest::newRow("Update label") << "updateLabel"
                                  << "Update" << -1 << 12.0 << black;
    QTest::newRow("status line") << "statusInfo" << QString() << -1 << 10.0 << kWhite;
}

void tst_Window::texts()
{
    QFETCH(QString, item);
    QFETCH(QString, text);
    QFETCH(int, pixelSize);
    QFETCH(qreal, pointSize);
    QFETCH(QColor, colour);

    QQuickItem *target = m_items.value(item);
    QCOMPARE(target->property("text").toString(), text);
    const QFont font = target->property("font").value<QFont>();
    QVERIFY(font.bold());
    QCOMPARE(font.family(), QStringLiteral("Arial"));
    QCOMPARE(font.pixelSize(), pixelSize);
    QCOMPARE(font.pointSizeF(), pointSize);
    QCOMPARE(target->property("color").value<QColor>(), colour);
    QCOMPARE(target->property("horizontalAlignment").toInt(), int(Qt::AlignHCenter));
    QCOMPARE(target->property("verticalAlignment").toInt(), int(Qt::AlignVCenter));
    // Long texts must stay whole: nothing elided, clipped or cut at a line count.
    QCOMPARE(target->property("elide").toInt(), 3); // Text.ElideNone
    QVERIFY(!target->clip());
    QCOMPARE(target->property("maximumLineCount").toInt(), std::numeric_limits<int>::max());
}

void tst_Window::states_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QString>("run"); // the flash section, "no device", or empty: no attempt
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("reselect");   // the file is selected again after the attempt
    QTest::addColumn<QString>("message"); // "%1" stands for the path
    QTest::addColumn<QString>("statusLine");
    QTest::addColumn<bool>("openEnabled");
    QTest::addColumn<bool>("updateEnabled");

    const QString none;
    const QString noDevice = QStringLiteral("no device");
    const QString selected = QStringLiteral("Firmware file selected:\n[ %1 ]");
    const QString failed = QStringLiteral("Firmware Update FAILED\n[ %1 ]");
    QTest::newRow("no file") << false << none << 0 << false << kNoFile << none << true << false;
    QTest::newRow("0 file selected")
        << true << none << 0 << false << selected << none << true << true;
    QTest::newRow("1 in progress")
        << true << kHoldRun << 1 << false << "Firmware Update in progress...\n[ %1 ]" << kUpdating
        << false << false;
    QTest::newRow("2 succeeded") << true << "exit 0" << 2 << false
                                 << "Firmware Update SUCCESS\n[ %1 ]"
                                 << "Update succeeded" << true << true;
    QTest::newRow("3 run failed") << true << "exit 1" << 3 << false << failed << "Update failed"
                                  << true << true;
    QTest::newRow("3 no device") << true << noDevice << 3 << false << failed << kNoDevice << true
                                 << true;
    // An update without a file is refused before anything runs, so it never reaches 1.
    QTest::newRow("no file while 3")
        << false << kHoldRun << 3 << false << kNoFile << cExpected::cannotRead << true << false;
    QTest::newRow("0 after a failed run")
        << true << "exit 1" << 0 << true << selected << "Update failed" << true << true;
}

void tst_Window::states()
{
    QFETCH(bool, hasFile);
    QFETCH(QString, run);
    QFETCH(int, state);
    QFETCH(bool, reselect);
    QFETCH(QString, message);
    QFETCH(QString, statusLine);
    QFETCH(bool, openEnabled);
    QFETCH(bool, updateEnabled);

    if (hasFile)
        selectFile();
    if (!run.isEmpty())
        runUpdate(run, reselect ? int(eUpdateFailed) : state);
    if (reselect)
        selectFile();
    QCOMPARE(int(m_app->status()), state);

    QCOMPARE(m_items.value(QStringLiteral("message"))->property("text").toString(),
             message.replace(QStringLiteral("%1"), firmwarePath()));
    QCOMPARE(m_items.value(QStringLiteral("statusInfo"))->property("text").toString(), statusLine);
    for (const QString &button : {QStringLiteral("open"), QStringLiteral("update")}) {
        const bool enabled = button == QLatin1String("open") ? openEnabled : updateEnabled;
        QQuickItem *item = m_items.value(button);
        QCOMPARE(item->isEnabled(), enabled);
        // The click area goes with its button.
        QCOMPARE(m_items.value(button + QStringLiteral("Area"))->isEnabled(), enabled);
        QCOMPARE(item->property("color").value<QColor>(), enabled ? kWhite : kGrey);
    }
}

void tst_Window::longPathWraps()
{
    QQuickItem *message = m_items.value(QStringLiteral("message"));
    const int lines = message->property("lineCount").toInt();

    // No blank in the path: it can only fit by breaking inside the word.
    m_app->setSelectedFirmwareFile(QStringLiteral("/tmp/") + QString(120, QLatin1Char('f')) +
                                   QStringLiteral(".bin"));
    QVERIFY(message->property("lineCount").toInt() > lines + 1);
    QVERIFY(message->property("paintedHeight").toReal() > 2 * 14);
    QVERIFY(message->property("contentWidth").toReal() <= 380);
    QCOMPARE(message->width(), 380.0);
}

// The texts of two lines fit the status line's width, and stay below the buttons.
void tst_Window::statusLineFits_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("not restarted") << cExpected::notRestarted;
    QTest::newRow("in use") << QStringLiteral(
        "Device already in use.\nClose all other apps connected to your Orvik device.");
}

void tst_Window::statusLineFits()
{
#ifdef Q_OS_WIN
    QSKIP("Windows' offscreen platform measures text at another resolution than the screen");
#endif
    QFETCH(QString, text);
    QQuickItem *status = m_items.value(QStringLiteral("statusInfo"));
    status->setProperty("text", text);
    QCOMPARE(status->property("lineCount").toInt(), 2);
    QVERIFY2(status->property("paintedWidth").toReal() <= status->width(),
             qPrintable(QString::number(status->property("paintedWidth").toReal())));
    const qreal top =
        status->y() + (status->height() - status->property("paintedHeight").toReal()) / 2;
    QQuickItem *update = m_items.value(QStringLiteral("update"));
    QVERIFY2(top >= update->mapToItem(status->parentItem(), QPointF(0, update->height())).y(),
             qPrintable(QString::number(top)));
    QVERIFY(top + status->property("paintedHeight").toReal() <= m_window->height());
}

void tst_Window::clickUpdate_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("starts");

    QTest::newRow("ready: starts") << true << 0 << true;
    QTest::newRow("after a failed run: starts") << true << 3 << true;
    QTest::newRow("after a successful run: starts") << true << 2 << true;
    QTest::newRow("in progress: ignored") << true << 1 << false;
    QTest::newRow("no file: ignored") << false << 0 << false;
}

void tst_Window::clickUpdate()
{
    QFETCH(bool, hasFile);
    QFETCH(int, state);
    QFETCH(bool, starts);

    if (hasFile)
        selectFile();
    if (state != eUpdateReady)
        runUpdate(flashFor(state), state);
    // Every earlier run, the held one too, has recorded its call by now.
    const int before = state == eUpdateReady ? 0 : 2;
    QTRY_COMPARE_WITH_TIMEOUT(m_tool->calls().size(), before, kRunTimeoutMs);

    m_tool->setScript({kFoundBootloader}, {QStringLiteral("exit 0")});
    QList<int> states;
    QObject receiver;
    connect(m_app.get(), &cUpdateDialog::statusChanged, &receiver,
            [&] { states << int(m_app->status()); });
    click(m_items.value(QStringLiteral("update")));
    if (!starts) {
        // A started attempt would have run the listing and changed the state before returning.
        QCOMPARE(m_tool->calls().size(), before);
        QCOMPARE(states, QList<int>());
        QCOMPARE(int(m_app->status()), state);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(states, (QList<int>{eUpdateInProgress, eUpdateSucceeded}),
                              kRunTimeoutMs);
    const QList<QStringList> calls = m_tool->calls();
    QCOMPARE(calls.size(), before + 2);
    QCOMPARE(calls.at(before), QStringList{QStringLiteral("-l")});
    QCOMPARE(cExpected::withCopy({calls.at(before + 1)}).value(0).mid(6),
             (QStringList{QStringLiteral("-D"), QStringLiteral("<copy>")}));
}

void tst_Window::chooseFile_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("name"); // empty: the dialog must not open
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("statusLine");

    QTest::newRow("ready: plain name") << 0 << "app.bin" << true << QString();
    QTest::newRow("ready: blank, hash, per-cent, non-ASCII")
        << 0 << QStringLiteral("fw #1 100% \u00e9.bin") << true << QString();
    QTest::newRow("ready: cancelled") << 0 << "other.bin" << false << QString();
    QTest::newRow("after a failed run") << 3 << "app.bin" << true << "Update failed";
    QTest::newRow("in progress: does not open") << 1 << QString() << false << kUpdating;
}

void tst_Window::chooseFile()
{
    QFETCH(int, state);
    QFETCH(QString, name);
    QFETCH(bool, accept);
    QFETCH(QString, statusLine);

    QObject *selectDialog = fileDialog(true);
    QVERIFY(selectDialog);
    selectFile();
    if (state != eUpdateReady)
        runUpdate(flashFor(state), state);
    QStringList emitted;
    QObject receiver;
    connect(m_app.get(), &cUpdateDialog::selectedFirmwareFileChanged, &receiver,
            [&emitted] { emitted << QStringLiteral("file"); });
    connect(m_app.get(), &cUpdateDialog::statusChanged, &receiver,
            [&emitted] { emitted << QStringLiteral("status"); });

    QVERIFY(!selectDialog->property("visible").toBool());
    // It opens where the selected image lies.
    QCOMPARE(selectDialog->property(kFolderProperty).toUrl(), QUrl::fromLocalFile(m_tool->path()));
    click(m_items.value(QStringLiteral("open")));
    QCOMPARE(selectDialog->property("visible").toBool(), !name.isEmpty());
    if (name.isEmpty()) {
        QCOMPARE(emitted, QStringList());
        QCOMPARE(int(m_app->status()), state);
        return;
    }

    // The dialog only takes files that exist.
    QVERIFY(QDir(m_tool->path()).mkpath(QStringLiteral("x")));
    const QString path = m_tool->filePath(QStringLiteral("x/") + name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    if (accept) {
        // Typed as a person would: Ctrl+L makes the dialog's folder bar a path field.
        QWindow *window = nullptr;
        QTRY_VERIFY((window = dialogWindow()));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window, Qt::Key_L, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : path)
            QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(window, Qt::Key_Return);
    } else {
        QVERIFY(QMetaObject::invokeMethod(selectDialog, "reject"));
    }
    QTRY_VERIFY(!selectDialog->property("visible").toBool());
#else
    // What the dialog's own path field does on Enter.
    bool added = false;
    QVERIFY(QMetaObject::invokeMethod(selectDialog, "clearSelection"));
    QVERIFY(QMetaObject::invokeMethod(selectDialog, "addSelection", Q_RETURN_ARG(bool, added),
                                      Q_ARG(QUrl, QUrl::fromLocalFile(path))));
    QVERIFY(added);
    QVERIFY(QMetaObject::invokeMethod(selectDialog, accept ? "accept" : "reject"));
#endif
    QVERIFY(!selectDialog->property("visible").toBool());

    const QString chosen = accept ? path : firmwarePath();
    const QStringList expected{QStringLiteral("file"), QStringLiteral("status")};
    QCOMPARE(emitted, accept ? expected : QStringList());
    QCOMPARE(m_app->selectedFirmwareFile(), chosen);
    QCOMPARE(int(m_app->status()), accept ? int(eUpdateReady) : state);
    QCOMPARE(m_items.value(QStringLiteral("message"))->property("text").toString(),
             QStringLiteral("Firmware file selected:\n[ %1 ]").arg(chosen));
    QCOMPARE(m_items.value(QStringLiteral("statusInfo"))->property("text").toString(), statusLine);
    QCOMPARE(selectDialog->property(kFolderProperty).toUrl(),
             QUrl::fromLocalFile(QFileInfo(chosen).absolutePath()));
}

// A close while the Orvik is being updated asks first; otherwise it closes at once.
void tst_Window::closeDuringUpdate_data()
{
    QTest::addColumn<bool>("updating");
    QTest::addColumn<QString>("answer"); // keys for the question, or "run ends"
    QTest::addColumn<bool>("closed");

    QTest::newRow("idle: closes at once") << false << QString() << true;
    QTest::newRow("updating: Escape keeps updating") << true << "Escape" << false;
    QTest::newRow("updating: Return on the default keeps updating") << true << "Return" << false;
    QTest::newRow("updating: Tab, Space quits anyway") << true << "Tab Space" << true;
    QTest::newRow("updating: the run ends while asking") << true << "run ends" << false;
    // The image is written; nothing is written while the Orvik restarts.
    QTest::newRow("restarting: closes at once") << true << "restarting" << true;
}

void tst_Window::closeDuringUpdate()
{
    QFETCH(bool, updating);
    QFETCH(QString, answer);
    QFETCH(bool, closed);

    selectFile();
    const bool restarting = answer == QLatin1String("restarting");
    if (updating)
        runUpdate(restarting ? kLeftAtLeave : kHoldRun, eUpdateInProgress);
    if (restarting)
        QTRY_VERIFY_WITH_TIMEOUT(m_app->restarting(), kRunTimeoutMs);
    const auto question = [] {
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (window->isVisible() && window->title() == QLatin1String("Orvik Updater"))
                return window;
        }
        return static_cast<QWindow *>(nullptr);
    };
    QVERIFY(!question());

    m_window->close();
    if (!updating || restarting) {
        QVERIFY(!m_window->isVisible());
        QVERIFY(!question());
        return;
    }
    QVERIFY(m_window->isVisible());
    const QPointer<QWindow> asked = question();
    QVERIFY(asked);
    QCOMPARE(asked->modality(), Qt::ApplicationModal);
    QCOMPARE(asked->transientParent(), m_window);
    if (answer == QLatin1String("run ends")) {
        QFile(m_tool->filePath(QStringLiteral("ack-1"))).open(QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(int(m_app->status()), int(eUpdateSucceeded), kRunTimeoutMs);
    } else {
        QVERIFY(QTest::qWaitForWindowExposed(asked));
        asked->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(asked));
        for (const QString &name : answer.split(QLatin1Char(' '))) {
            const Qt::Key key = keyNamed(name);
            // The answer takes the question away, before the key is released.
            QTest::keyPress(asked, key);
            if (asked)
                QTest::keyRelease(asked, key);
        }
    }
    QTRY_VERIFY(!question());
    QCOMPARE(m_window->isVisible(), !closed);
    if (!closed)
        QCOMPARE(int(m_app->status()), answer == QLatin1String("run ends") ? 2 : 1);
}

// Keys go to the window the way the platform delivers them, to the item with the focus.
void tst_Window::keyboard_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<bool>("updating");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("focused"); // the button with the focus afterwards
    QTest::addColumn<QString>("outcome"); // "dialog", "update" or empty: nothing happens

    QTest::newRow("Select File has the focus at start") << true << false << ""
                                                        << "open"
                                                        << "";
    QTest::newRow("Tab to Update") << true << false << "Tab"
                                   << "update"
                                   << "";
    QTest::newRow("Tab wraps around") << true << false << "Tab Tab"
                                      << "open"
                                      << "";
    QTest::newRow("Shift+Tab") << true << false << "Backtab"
                               << "update"
                               << "";
    QTest::newRow("disabled Update is skipped") << false << false << "Tab"
                                                << "open"
                                                << "";
    QTest::newRow("Space on Select File") << true << false << "Space"
                                          << ""
                                          << "dialog";
    QTest::newRow("Return on Select File") << true << false << "Return"
                                           << ""
                                           << "dialog";
    QTest::newRow("Enter on Update") << true << false << "Tab Enter"
                                     << ""
                                     << "update";
    QTest::newRow("Space on Update") << true << false << "Tab Space"
                                     << ""
                                     << "update";
    QTest::newRow("Ctrl+O") << false << false << "Ctrl+O"
                            << ""
                            << "dialog";
    QTest::newRow("Ctrl+O while updating") << true << true << "Ctrl+O"
                                           << ""
                                           << "";
}

void tst_Window::keyboard()
{
    QFETCH(bool, hasFile);
    QFETCH(bool, updating);
    QFETCH(QString, keys);
    QFETCH(QString, focused);
    QFETCH(QString, outcome);

    if (hasFile)
        selectFile();
    if (updating)
        runUpdate(kHoldRun, eUpdateInProgress);
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_tool->setScript({kFoundBootloader}, {QStringLiteral("exit 0")});
    for (const QString &key : keys.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (key == QLatin1String("Ctrl+O"))
            QTest::keySequence(m_window, QKeySequence::Open);
        else
            QTest::keyClick(m_window, keyNamed(key));
    }

    if (!focused.isEmpty())
        QCOMPARE(m_window->activeFocusItem(), m_items.value(focused));
    QObject *dialog = fileDialog(false);
    QCOMPARE(dialog && dialog->property("visible").toBool(), outcome == QLatin1String("dialog"));
    if (outcome == QLatin1String("update"))
        QTRY_COMPARE_WITH_TIMEOUT(int(m_app->status()), int(eUpdateSucceeded), kRunTimeoutMs);
    else if (!updating)
        QCOMPARE(m_tool->calls(), QList<QStringList>());
    if (dialog && outcome == QLatin1String("dialog")) {
        // Closing the dialog gives the keyboard back to the window, on Select File.
        QVERIFY(QMetaObject::invokeMethod(dialog, "reject"));
        QTRY_COMPARE(QGuiApplication::focusWindow(), m_window);
        QCOMPARE(m_window->activeFocusItem(), m_items.value(QStringLiteral("open")));
    }
}

// Only the focused button shows its ring, at least 2 px wide, in a colour that stands out
// against the white and the grey face alike (contrast of 3:1 or more).
void tst_Window::focusRing()
{
    const auto luminance = [](const QColor &colour) {
        const auto linear = [](qreal c) {
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const auto contrast = [&](const QColor &a, const QColor &b) {
        const qreal la = luminance(a), lb = luminance(b);
        return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
    };
    const auto ring = [this](const char *button) {
        return m_window->findChild<QQuickItem *>(QLatin1String(button) +
                                                 QStringLiteral("FocusRing"));
    };

    selectFile();
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QVERIFY(ring("open") && ring("update"));
    QVERIFY(ring("open")->isVisible());
    QVERIFY(!ring("update")->isVisible());
    QTest::keyClick(m_window, Qt::Key_Tab);
    QVERIFY(!ring("open")->isVisible());
    QVERIFY(ring("update")->isVisible());

    QObject *border = ring("update")->property("border").value<QObject *>();
    QVERIFY(border->property("width").toReal() >= 2);
    const QColor colour = border->property("color").value<QColor>();
    QVERIFY2(contrast(colour, kWhite) >= 3, qPrintable(colour.name()));
    QVERIFY2(contrast(colour, kGrey) >= 3, qPrintable(colour.name()));
    // Inside the edge: the button keeps its size and place.
    QCOMPARE(ring("update")->mapRectToItem(m_items.value(QStringLiteral("update")),
                                           ring("update")->boundingRect()),
             QRectF(2, 2, 96, 46));
}

// What a screen reader reads: the buttons with their names, descriptions, states and a press
// that works; the two texts with what they show.
void tst_Window::screenReader_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("Select File") << "Select File" << false << true << "dialog";
    QTest::newRow("Update, no file") << "Update" << false << false << "";
    QTest::newRow("Update") << "Update" << true << true << "update";
}

void tst_Window::screenReader()
{
    QFETCH(QString, button);
    QFETCH(bool, hasFile);
    QFETCH(bool, enabled);
    QFETCH(QString, outcome);

    QAccessible::setActive(true);
    if (hasFile)
        selectFile();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(m_window);
    QVERIFY(window);
    QHash<QString, QAccessibleInterface *> buttons;
    QStringList texts;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface *child = node->child(i);
            if (child->role() == QAccessible::Button)
                buttons.insert(child->text(QAccessible::Name), child);
            else if (child->role() == QAccessible::StaticText)
                texts << child->text(QAccessible::Name);
            walk(child);
        }
    };
    walk(window);
    QCOMPARE(buttons.keys().size(), 2);
    QVERIFY(texts.contains(m_items.value(QStringLiteral("message"))->property("text").toString()));

    QAccessibleInterface *target = buttons.value(button);
    QVERIFY(target);
    QVERIFY(!target->text(QAccessible::Description).isEmpty());
    // A screen reader also walks upwards: the button's parent must list it.
    QVERIFY(target->parent() && target->parent()->indexOfChild(target) >= 0);
    QCOMPARE(target->state().disabled, !enabled);
    QCOMPARE(target->state().focusable, enabled);
    QVERIFY(target->actionInterface());
    QVERIFY(target->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    m_tool->setScript({kFoundBootloader}, {QStringLiteral("exit 0")});
    target->actionInterface()->doAction(QAccessibleActionInterface::pressAction());

    QObject *dialog = fileDialog(false);
    QCOMPARE(dialog && dialog->property("visible").toBool(), outcome == QLatin1String("dialog"));
    if (dialog)
        QMetaObject::invokeMethod(dialog, "reject");
    if (outcome != QLatin1String("update")) {
        QCOMPARE(m_tool->calls(), QList<QStringList>());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(m_app->status()), int(eUpdateSucceeded), kRunTimeoutMs);
    // The status line is read as what it shows now.
    texts.clear();
    walk(window);
    QVERIFY2(texts.contains(QStringLiteral("Update succeeded")), qPrintable(texts.join('|')));
}

// A file dropped onto the window is taken as the dialog would take it; anything else is not.
void tst_Window::drop_data()
{
    QTest::addColumn<QStringList>("urls"); // starting with "/": in the test's folder
    QTest::addColumn<bool>("updating");
    QTest::addColumn<bool>("taken");

    const QString local = QStringLiteral("/drop/fw #1 100% \u00e9.bin");
    QTest::newRow("one local file") << QStringList{local} << false << true;
    QTest::newRow("two files") << QStringList{local, "/drop/other.bin"} << false << false;
    QTest::newRow("a folder") << QStringList{"/drop"} << false << false;
    QTest::newRow("not a local file")
        << QStringList{"https://example.com/fw.bin"} << false << false;
    QTest::newRow("during an update") << QStringList{local} << true << false;
}

void tst_Window::drop()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, updating);
    QFETCH(bool, taken);

    selectFile();
    if (updating)
        runUpdate(kHoldRun, eUpdateInProgress);
    const QString before = m_app->selectedFirmwareFile();
    QVERIFY(QDir(m_tool->path()).mkpath(QStringLiteral("drop")));
    QList<QUrl> dropped;
    for (const QString &url : urls) {
        if (!url.startsWith(QLatin1Char('/'))) {
            dropped << QUrl(url);
            continue;
        }
        dropped << QUrl::fromLocalFile(m_tool->path() + url);
        if (url.endsWith(QLatin1String(".bin")))
            QFile(dropped.last().toLocalFile()).open(QIODevice::WriteOnly);
    }
    QStringList emitted;
    QObject receiver;
    connect(m_app.get(), &cUpdateDialog::selectedFirmwareFileChanged, &receiver,
            [&emitted] { emitted << QStringLiteral("file"); });

    QMimeData data;
    data.setUrls(dropped);
    const QPoint at(210, 50);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window, &enter);
    // While it hovers, the message box says it will take it.
    QCOMPARE(m_items.value(QStringLiteral("rectMessage"))
                 ->property("border")
                 .value<QObject *>()
                 ->property("width")
                 .toInt(),
             taken ? 2 : 0);
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window, &dropEvent);

    if (!taken) {
        QCOMPARE(emitted, QStringList());
        QCOMPARE(m_app->selectedFirmwareFile(), before);
        return;
    }
    QCOMPARE(emitted, QStringList{QStringLiteral("file")});
    QCOMPARE(m_app->selectedFirmwareFile(), cLocalFilePath().fromUrl(dropped.first()));
    QCOMPARE(m_app->selectedFirmwareFile(), m_tool->filePath("drop/fw #1 100% \u00e9.bin"));
    QCOMPARE(m_items.value(QStringLiteral("rectMessage"))
                 ->property("border")
                 .value<QObject *>()
                 ->property("width")
                 .toInt(),
             0);
}

// Before the first attempt the status line says whether an Orvik is there, in one line; from
// the attempt on it shows the attempt's texts, also after a new file is chosen.
void tst_Window::presenceGivesWay_data()
{
    QTest::addColumn<QStringList>("listing");
    QTest::addColumn<QString>("presence");
    QTest::addColumn<QString>("attempt"); // the attempt's text once it has ended

    QTest::newRow("nothing") << QStringList{kNothingFound} << "No Orvik connected" << kNoDevice;
    QTest::newRow("bootloader") << QStringList{kFoundBootloader}
                                << "Orvik connected in its bootloader"
                                << "Update succeeded";
    QTest::newRow("bootloader without a driver")
        << QStringList{kNothingFound, kCannotOpen.arg("LIBUSB_ERROR_NOT_SUPPORTED")}
        << "Orvik in its bootloader, but it has no driver" << kNoDevice;
#ifdef Q_OS_WIN
    const QString denied = QStringLiteral("Orvik in its bootloader, but another program uses it");
#else
    const QString denied = QStringLiteral("Orvik found, but access is denied");
#endif
    QTest::newRow("bootloader not to be opened")
        << QStringList{kNothingFound, kCannotOpen.arg("LIBUSB_ERROR_ACCESS")} << denied
        << kNoDevice;
}

void tst_Window::presenceGivesWay()
{
    QFETCH(QStringList, listing);
    QFETCH(QString, presence);
    QFETCH(QString, attempt);

    QQuickItem *statusLine = m_items.value(QStringLiteral("statusInfo"));
    m_tool->setScript(listing, {});
    m_presence->start();
    QTRY_COMPARE(statusLine->property("text").toString(), presence);
    // A bootloader the updater cannot open may bring the access offer: "Not now".
    m_access->dismiss();
    QTRY_VERIFY(!QGuiApplication::modalWindow());
#ifndef Q_OS_WIN
    // (Windows' offscreen platform measures text at another resolution than the screen;
    // tst_gui_windows sees the real window.)
    QVERIFY2(statusLine->property("lineCount").toInt() == 1 &&
                 statusLine->property("contentWidth").toReal() <= statusLine->width(),
             "the line does not fit");
#endif

    selectFile();
    QCOMPARE(statusLine->property("text").toString(), presence);
    click(m_items.value(QStringLiteral("update")));
    QCOMPARE(m_presence->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(statusLine->property("text").toString(), attempt, kRunTimeoutMs);
    selectFile();
    QCOMPARE(statusLine->property("text").toString(), attempt);
    // The watcher's one listing, then the attempt's.
    QCOMPARE(m_tool->calls().mid(0, 2), (QList<QStringList>{{"-l"}, {"-l"}}));
}

// The updater offers what this system lacks for it to open the Orvik: on Windows the driver,
// when the bootloader shows without one; on Linux access, when this user may not open it and
// no udev rules of the updater are installed. From the listing before the first attempt,
// once a start; after each attempt that fails for that reason. "Not now" (Escape) changes
// nothing else.
void tst_Window::accessOffer_data()
{
    QTest::addColumn<QStringList>("listing"); // the watcher's, when no attempt is made
    QTest::addColumn<QStringList>("flash");   // the attempt's run, when one is made
    QTest::addColumn<QString>("offeredOn");   // the system that offers
    QTest::addColumn<bool>("rules");          // the updater's udev rules installed

    const QString noDriver = kCannotOpen.arg("LIBUSB_ERROR_NOT_SUPPORTED");
    const QString denied = kCannotOpen.arg("LIBUSB_ERROR_ACCESS");
    const QString noDevice = QStringLiteral("err No DFU capable USB device available\\n");
    const QString windows = QStringLiteral("Windows"), linux = QStringLiteral("Linux");
    QTest::newRow("listing: without a driver")
        << QStringList{kNothingFound, noDriver} << QStringList() << windows << false;
    QTest::newRow("listing: not to be opened")
        << QStringList{kNothingFound, denied} << QStringList() << linux << false;
    QTest::newRow("listing: not to be opened, the rules installed")
        << QStringList{kNothingFound, denied} << QStringList() << QString() << true;
    QTest::newRow("run fails without a driver")
        << QStringList() << QStringList{noDriver, noDevice, "exit 74"} << windows << false;
    QTest::newRow("run fails, not to be opened")
        << QStringList() << QStringList{denied, noDevice, "exit 74"} << linux << false;
    QTest::newRow("run fails otherwise")
        << QStringList() << QStringList{noDevice, "exit 74"} << QString() << false;
}

void tst_Window::accessOffer()
{
    QFETCH(QStringList, listing);
    QFETCH(QStringList, flash);
    QFETCH(QString, offeredOn);
    QFETCH(bool, rules);
    const bool offered = offeredOn == kSystem;
    cUdevRules installed;
    if (offeredOn == QLatin1String("Linux") && kSystem == offeredOn && installed.present())
        QSKIP("the updater's udev rules are installed on this machine");
    if (rules && kSystem == QLatin1String("Linux") && !installed.install())
        QSKIP("the udev rules can be put in place by root only");

    const QString title = m_access->title();
    QQuickItem *statusLine = m_items.value(QStringLiteral("statusInfo"));
    const auto seeFailure = [&] {
        m_tool->setScript({kFoundBootloader}, flash);
        selectFile();
        m_app->startUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(int(m_app->status()), int(eUpdateFailed), kRunTimeoutMs);
    };
    if (flash.isEmpty()) {
        m_tool->setScript(listing, {});
        m_presence->start();
        QTRY_VERIFY(!statusLine->property("text").toString().isEmpty());
    } else {
        seeFailure();
    }
    QCOMPARE(m_access->asking(), offered);
    QCOMPARE(bool(shownWindow(title)), offered);
    if (!offered)
        return;

    const QPointer<QWindow> asked = shownWindow(title);
    QCOMPARE(asked->modality(), Qt::ApplicationModal);
    QCOMPARE(asked->transientParent(), m_window);
    const QString shownBefore = statusLine->property("text").toString();
    QVERIFY(QTest::qWaitForWindowExposed(asked));
    asked->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(asked));
    QTest::keyPress(asked, Qt::Key_Escape);
    if (asked)
        QTest::keyRelease(asked, Qt::Key_Escape);
    QTRY_VERIFY(!shownWindow(title));
    QCOMPARE(statusLine->property("text").toString(), shownBefore);
    QCOMPARE(int(m_app->status()), flash.isEmpty() ? int(eUpdateReady) : int(eUpdateFailed));

    // Asked again after the next such failure, but from the listing only once a start.
    if (flash.isEmpty())
        m_access->unopenableSeen(kSystem == QLatin1String("Windows") ? cToolOutput::eNoDriver
                                                                     : cToolOutput::eDenied);
    else
        seeFailure();
    QCOMPARE(m_access->asking(), !flash.isEmpty());
}

// The question's button starts the helper with administrator rights and says how it went: the
// helper's own line when it fails. Windows: orvik-driver.exe elevated. Linux: orvik-access
// through pkexec, which a stand-in plays here that records its arguments.
void tst_Window::accessSetUp_data()
{
    QTest::addColumn<QString>("system");
    QTest::addColumn<QStringList>("helper"); // the stand-in's script; empty: none there
    QTest::addColumn<QString>("said");

    const QString windows = QStringLiteral("Windows"), linux = QStringLiteral("Linux");
    const QString installed =
        QStringLiteral("The driver is installed: press Update to write the firmware.");
    QTest::newRow("Windows: installed")
        << windows << QStringList{"out Installed\\n", "writeto --outcome-file Installed", "exit 0"}
        << installed;
    QTest::newRow("Windows: staged")
        << windows << QStringList{"writeto --outcome-file Staged", "exit 1"} << installed;
    const QString refused =
        QStringLiteral("Not installed: Windows refused the driver package (error 0xE0000247)");
    QTest::newRow("Windows: refused")
        << windows << QStringList{"writeto --outcome-file " + refused, "exit 12"} << refused;
    QTest::newRow("Windows: no helper")
        << windows << QStringList()
        << "The driver was not installed: orvik-driver.exe is missing from the updater's folder. "
           "Reinstall the updater.";
    QTest::newRow("Linux: allowed")
        << linux << QStringList{"out Set up: /etc/udev/rules.d/70-orvik-updater.rules\\n", "exit 0"}
        << "Access is allowed: press Update to write the firmware.";
    QTest::newRow("Linux: declined") << linux << QStringList{"exit 126"}
                                     << "Access was not allowed: the password was not given, "
                                        "or not accepted.";
    QTest::newRow("Linux: the helper refused")
        << linux
        << QStringList{"out Not set up: udevadm is missing (this system has no udev)\\n", "exit 11"}
        << "Not set up: udevadm is missing (this system has no udev)";
    QTest::newRow("Linux: pkexec missing")
        << linux << QStringList()
        << "pkexec is missing, so the updater cannot ask for the password. Allow access by hand "
           "in a terminal, in the updater's folder:\n"
           "sudo cp udev/70-orvik-updater.rules /etc/udev/rules.d/\n"
           "sudo udevadm control --reload-rules\n"
           "sudo udevadm trigger --subsystem-match=tty --subsystem-match=usb";
}

void tst_Window::accessSetUp()
{
    QFETCH(QString, system);
    QFETCH(QStringList, helper);
    QFETCH(QString, said);
    if (system != kSystem)
        QSKIP("another system's helper");
    const bool linux = system == QLatin1String("Linux");
    if (linux && cUdevRules().present())
        QSKIP("the updater's udev rules are installed on this machine: nothing is offered");

    const QString helperFile = m_tool->filePath(cDeviceAccess::helperPath());
    // Linux: the stand-in plays pkexec, found on the PATH, in front of a helper that is there.
    // Windows: it plays the helper itself, when there is one.
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    const auto restorePath = qScopeGuard([&path] { qputenv("PATH", path); });
    if (linux) {
        QVERIFY(bin.isValid());
        qputenv("PATH", QFile::encodeName(bin.path()));
        QVERIFY(QFile::copy(cExpected::toolIn(m_tool->path()), helperFile));
    }
    if (!helper.isEmpty()) {
        QVERIFY(QFile::copy(cExpected::toolIn(m_tool->path()),
                            linux ? bin.filePath(QStringLiteral("pkexec")) : helperFile));
        m_tool->setScript({}, helper);
    }
    m_access->attemptFailed(
        kSystem == QLatin1String("Windows")
            ? "Cannot open DFU device 0483:df11 found on devnum 5 (LIBUSB_ERROR_NOT_SUPPORTED)\n"
            : "Cannot open DFU device 0483:df11 found on devnum 5 (LIBUSB_ERROR_ACCESS)\n");
    QWindow *asked = shownWindow(m_access->title());
    QVERIFY(asked);
    QVERIFY(QTest::qWaitForWindowExposed(asked));
    asked->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(asked));
    // The question's button has the keyboard.
    QTest::keyClick(asked, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!m_access->working(), kRunTimeoutMs);
    auto *shown = asked->findChild<QQuickItem *>(QStringLiteral("accessQuestionText"));
    QVERIFY(shown);
    QCOMPARE(shown->property("text").toString(), said);
    QCOMPARE(m_access->done(), said.contains(QLatin1String("press Update")));
    if (helper.isEmpty())
        return;
    const QStringList called = m_tool->calls().value(0);
    if (linux)
        QCOMPARE(called, (QStringList{helperFile, "install"}));
    else
        QCOMPARE(called.mid(0, 2), (QStringList{"install", "--outcome-file"}));
}

int main(int argc, char *argv[])
{
    // The program's own application set-up.
    cWindowSetup::beforeApplication();
    // The file dialog keeps settings; they must not land in the user's own.
    QStandardPaths::setTestModeEnabled(true);
    // Always the QML as built into this binary, never a compiled copy from an earlier one.
    qputenv("QML_DISABLE_DISK_CACHE", "1");
    // The offscreen platform has no OpenGL.
    QQuickWindow::setSceneGraphBackend(QStringLiteral("software"));
    QGuiApplication app(argc, argv);
    // Each test closes windows of its own; the test program itself goes on.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    cWindowSetup::afterApplication();
    tst_Window test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
