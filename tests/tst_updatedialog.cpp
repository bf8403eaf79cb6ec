#include "cExpected.h"
#include "cFakeTool.h"
#include "cFirmwareUpdate.h"
#include "cUpdateDialog.h"
#include "eUpdateState.h"

#include <QtTest>

#include <iterator>

namespace {
const QString kUpdating = cExpected::updating;
const QString kListing = cFakeTool::bootloaderListed;

struct cMethod
{
    QMetaMethod::MethodType type;
    const char *signature;
    QList<QByteArray> parameterNames;
};

void compareMethods(const QMetaObject &meta, const QList<cMethod> &expected)
{
    QCOMPARE(meta.methodCount() - meta.methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.methodType(), expected[i].type);
        QCOMPARE(method.parameterNames(), expected[i].parameterNames);
        QCOMPARE(method.access(), QMetaMethod::Public);
        QCOMPARE(method.returnType(), int(QMetaType::Void));
    }
    QCOMPARE(meta.enumeratorCount() - meta.enumeratorOffset(), 0);
    QCOMPARE(meta.classInfoCount() - meta.classInfoOffset(), 0);
    QCOMPARE(meta.constructorCount(), 0);
}

// The type of the controller's "status", looked up by its name.
QMetaType stateType()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QMetaType::fromName("eUpdateState");
#else
    return QMetaType(QMetaType::type("eUpdateState"));
#endif
}

// The controller's signals, each with what a binding would read at that moment.
struct cControllerLog
{
    explicit cControllerLog(cUpdateDialog &dialog)
    {
        QObject::connect(&dialog, &cUpdateDialog::statusChanged, &dialog, [this, &dialog] {
            events << QStringLiteral("status:%1").arg(dialog.property("status").toInt());
        });
        QObject::connect(&dialog, &cUpdateDialog::statusInfoChanged, &dialog, [this, &dialog] {
            events << QStringLiteral("info:") + dialog.property("statusInfo").toString();
        });
        QObject::connect(&dialog, &cUpdateDialog::selectedFirmwareFileChanged, &dialog,
                         [this, &dialog] {
                             events << QStringLiteral("file:") +
                                           dialog.property("selectedFirmwareFile").toString();
                         });
    }
    QStringList events;
};
} // namespace

class tst_UpdateDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controllerInterface();
    void updateObjectInterface();
    void initialValues();
    void selectFile();
    void attempt_data();
    void attempt();
    void newAttemptReplacesOld();
    void updateFinishedIgnoresState_data();
    void updateFinishedIgnoresState();
    void waitForUpdate();
};

void tst_UpdateDialog::initTestCase()
{
    QVERIFY(qRegisterMetaType<eUpdateState>("eUpdateState") > 0);
}

void tst_UpdateDialog::controllerInterface()
{
    const QMetaObject &meta = cUpdateDialog::staticMetaObject;
    QCOMPARE(meta.className(), "cUpdateDialog");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    compareMethods(meta, {{QMetaMethod::Signal, "statusChanged()", {}},
                          {QMetaMethod::Signal, "statusInfoChanged()", {}},
                          {QMetaMethod::Signal, "selectedFirmwareFileChanged()", {}},
                          {QMetaMethod::Slot, "setSelectedFirmwareFile(QString)", {"FirmwareFile"}},
                          {QMetaMethod::Slot, "UpdateFinished(bool)", {"Success"}},
                          {QMetaMethod::Method, "startUpdate()", {}}});

    struct
    {
        const char *name;
        const char *type;
        const char *notify;
    } const properties[] = {{"status", "eUpdateState", "statusChanged()"},
                            {"selectedFirmwareFile", "QString", "selectedFirmwareFileChanged()"},
                            {"statusInfo", "QString", "statusInfoChanged()"},
                            {"restarting", "bool", "statusInfoChanged()"}};
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), int(std::size(properties)));
    for (int i = 0; i < int(std::size(properties)); ++i) {
        const QMetaProperty property = meta.property(meta.propertyOffset() + i);
        QCOMPARE(property.name(), properties[i].name);
        QCOMPARE(property.typeName(), properties[i].type);
        QVERIFY(property.isReadable());
        QVERIFY(!property.isWritable());
        QVERIFY(!property.isResettable());
        QVERIFY(property.hasNotifySignal());
        QCOMPARE(property.notifySignal().methodSignature(), QByteArray(properties[i].notify));
    }

    // Known to the meta-type system by name only: a 4-byte enumeration without
    // a meta-object, so QML sees a number it can compare with 0 to 3.
    const QMetaType type = stateType();
    QCOMPARE(meta.property(meta.propertyOffset()).userType(), type.id());
    QVERIFY(type.flags() & QMetaType::IsEnumeration);
    QCOMPARE(type.sizeOf(), 4);
    QVERIFY(!type.metaObject());
}

void tst_UpdateDialog::updateObjectInterface()
{
    const QMetaObject &meta = cFirmwareUpdate::staticMetaObject;
    QCOMPARE(meta.className(), "cFirmwareUpdate");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    compareMethods(meta, {{QMetaMethod::Signal, "UpdateComplete(bool)", {"Success"}},
                          {QMetaMethod::Signal, "statusInfoChanged()", {}},
                          {QMetaMethod::Slot,
                           "ProcessFinished(int,QProcess::ExitStatus)",
                           {"exitCode", "exitStatus"}},
                          {QMetaMethod::Slot, "ProcessOutput()", {}}});
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 0);
}

void tst_UpdateDialog::initialValues()
{
    cUpdateDialog dialog(nullptr);
    QCOMPARE(dialog.property("status").toInt(), 0);
    QCOMPARE(dialog.property("status").userType(), stateType().id());
    const QString file = dialog.property("selectedFirmwareFile").toString();
    QVERIFY(file.isEmpty() && !file.isNull());
    QVERIFY(dialog.property("statusInfo").toString().isEmpty());
    dialog.WaitForUpdate(); // no update object: returns at once
}

void tst_UpdateDialog::selectFile()
{
    cUpdateDialog dialog(nullptr);
    cControllerLog log(dialog);
    dialog.setSelectedFirmwareFile("/a/fw.bin");
    dialog.setSelectedFirmwareFile("/a/fw.bin");
    dialog.setSelectedFirmwareFile("");
    QCOMPARE(log.events, (QStringList{"file:/a/fw.bin", "status:0", "file:/a/fw.bin", "status:0",
                                      "file:", "status:0"}));
}

// One attempt through the controller: the signals a window sees, in order.
void tst_UpdateDialog::attempt_data()
{
    QTest::addColumn<int>("placement");
    QTest::addColumn<QStringList>("listing");
    QTest::addColumn<QString>("flashEnd");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("startAgain"); // Update called again while the run goes on

    QTest::newRow("flashed") << int(cFakeTool::Placement::Executable) << QStringList{kListing}
                             << "exit 0"
                             << QStringList{"info:" + kUpdating, "status:1", "info:" + kUpdating,
                                            "info:Update succeeded", "status:2"}
                             << false;
    // Nothing may cut the run short: the second call does nothing at all.
    QTest::newRow("started again during the run")
        << int(cFakeTool::Placement::Executable) << QStringList{kListing} << "sleep 1500"
        << QStringList{"info:" + kUpdating, "status:1", "info:" + kUpdating,
                       "info:Update succeeded", "status:2"}
        << true;
    QTest::newRow("tool failed") << int(cFakeTool::Placement::Executable) << QStringList{kListing}
                                 << "exit 74"
                                 << QStringList{"info:" + kUpdating, "status:1",
                                                "info:" + kUpdating, "info:Update failed",
                                                "status:3"}
                                 << false;
    QTest::newRow("no device") << int(cFakeTool::Placement::Executable)
                               << QStringList{"out nothing"} << "exit 0"
                               << QStringList{"info:Couldn't find any available Orvik Devices",
                                              "status:3",
                                              "info:Couldn't find any available Orvik Devices"}
                               << false;
    QTest::newRow("tool missing") << int(cFakeTool::Placement::Missing) << QStringList()
                                  << QString()
                                  << QStringList{"info:Failed to find DFU Util", "status:3",
                                                 "info:Failed to find DFU Util"}
                                  << false;
    QTest::newRow("tool cannot start")
        << int(cFakeTool::Placement::NotExecutable) << QStringList() << QString()
        << QStringList{"info:" + kUpdating, "status:1", "info:" + kUpdating, "info:Update failed",
                       "status:3"}
        << false;
}

void tst_UpdateDialog::attempt()
{
    QFETCH(int, placement);
    QFETCH(QStringList, listing);
    QFETCH(QString, flashEnd);
    QFETCH(QStringList, events);
    QFETCH(bool, startAgain);

    cFakeTool tool(static_cast<cFakeTool::Placement>(placement));
    QVERIFY(tool.isValid());
    tool.setScript(listing, {flashEnd});
    cUpdateDialog dialog(nullptr);
    dialog.setSelectedFirmwareFile(tool.image("fw.bin"));
    cControllerLog log(dialog);

    dialog.startUpdate();
    if (startAgain) {
        QCOMPARE(dialog.status(), eUpdateInProgress);
        dialog.startUpdate();
        QCOMPARE(dialog.status(), eUpdateInProgress);
        QCOMPARE(log.events, events.mid(0, 3));
    }
    QTRY_COMPARE_WITH_TIMEOUT(log.events.size(), events.size(), 30000);
    QTest::qWait(20);
    QCOMPARE(log.events, events);
    // The listing and the one run; a run cut short would not have succeeded.
    if (startAgain)
        QCOMPARE(tool.calls().size(), 2);

    // A new selection resets the state but keeps the last attempt's text.
    const QString lastText = dialog.statusInfo();
    dialog.setSelectedFirmwareFile("other.bin");
    QCOMPARE(dialog.status(), eUpdateReady);
    QCOMPARE(dialog.statusInfo(), lastText);
}

// Every start makes a new update object: from its first text on, statusInfo
// reads the new attempt, whatever the old one ended with.
void tst_UpdateDialog::newAttemptReplacesOld()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({"out nothing"}, {});
    cUpdateDialog dialog(nullptr);
    dialog.setSelectedFirmwareFile(tool.image("fw.bin"));
    dialog.startUpdate();
    QCOMPARE(dialog.status(), eUpdateFailed);

    tool.setScript({kListing}, {"exit 0"});
    cControllerLog log(dialog);
    dialog.startUpdate();
    QCOMPARE(log.events.value(0), "info:" + kUpdating);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.status(), eUpdateSucceeded, 30000);
    QCOMPARE(tool.calls().size(), 3); // failed probe, then probe and flashing run
}

void tst_UpdateDialog::updateFinishedIgnoresState_data()
{
    QTest::addColumn<bool>("failFirst");
    QTest::addColumn<bool>("success");
    QTest::addColumn<int>("status");
    QTest::newRow("ready, success") << false << true << 2;
    QTest::newRow("ready, failure") << false << false << 3;
    QTest::newRow("failed, success") << true << true << 2;
    QTest::newRow("failed, failure") << true << false << 3;
}

void tst_UpdateDialog::updateFinishedIgnoresState()
{
    QFETCH(bool, failFirst);
    QFETCH(bool, success);
    QFETCH(int, status);
    cUpdateDialog dialog(nullptr);
    if (failFirst)
        dialog.UpdateFinished(false);
    cControllerLog log(dialog);
    dialog.UpdateFinished(success);
    QCOMPARE(log.events, QStringList{QStringLiteral("status:%1").arg(status)});
}

// At shutdown a running flashing run is awaited, and its end still delivered.
void tst_UpdateDialog::waitForUpdate()
{
    cFakeTool tool;
    QVERIFY(tool.isValid());
    tool.setScript({kListing}, {"sleep 300", "exit 0"});
    cUpdateDialog dialog(nullptr);
    dialog.setSelectedFirmwareFile(tool.image("fw.bin"));
    dialog.startUpdate();
    QCOMPARE(dialog.status(), eUpdateInProgress);
    dialog.WaitForUpdate();
    QCOMPARE(dialog.status(), eUpdateSucceeded);
    QCOMPARE(dialog.statusInfo(), QStringLiteral("Update succeeded"));
}

QTEST_GUILESS_MAIN(tst_UpdateDialog)
#include "tst_updatedialog.moc"
