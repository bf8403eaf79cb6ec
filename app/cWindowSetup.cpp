#include "cWindowSetup.h"

#include "cAccessibleButton.h"
#include "cDevicePresence.h"
#include "cDeviceAccess.h"
#include "cLocalFilePath.h"
#include "cUpdateDialog.h"
#include "eUpdateState.h"

#include <QCoreApplication>
#include <QMetaType>
#include <QQmlApplicationEngine>
#include <QQmlContext>

void cWindowSetup::setAttributes()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Always on with Qt 6.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
}

void cWindowSetup::beforeApplication()
{
    setAttributes();
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrane Audio"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Updater"));
}

void cWindowSetup::afterApplication()
{
    // The window compares the controller's "status" with numbers; it reads the property
    // through the meta-type known by this name.
    qRegisterMetaType<eUpdateState>("eUpdateState");
    cAccessibleButton::install();
}

void cWindowSetup::publish(QQmlEngine &engine, cUpdateDialog *controller,
                           cLocalFilePath *localFilePath, cDevicePresence *presence,
                           cDeviceAccess *access)
{
    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("_App"), controller);
    context->setContextProperty(QStringLiteral("_LocalFilePath"), localFilePath);
    context->setContextProperty(QStringLiteral("_Presence"), presence);
    context->setContextProperty(QStringLiteral("_Access"), access);

    QObject::connect(presence, &cDevicePresence::unopenable, access,
                     &cDeviceAccess::unopenableSeen);
    // The status changes once as each attempt starts and once as it ends.
    QObject::connect(controller, &cUpdateDialog::statusChanged, access, [controller, access] {
        if (controller->status() == eUpdateInProgress)
            access->attemptStarted();
        else if (controller->status() == eUpdateFailed)
            access->attemptFailed(controller->toolErrors());
    });
}

void cWindowSetup::releaseFileDialog(QQmlApplicationEngine &engine)
{
    // A native dialog runs in a thread of its own, which its destruction waits for: that must
    // happen now, not inside the engine's teardown, nor after it.
    const QList<QObject *> roots = engine.rootObjects();
    QObject *loader = roots.isEmpty()
                          ? nullptr
                          : roots.first()->findChild<QObject *>(QStringLiteral("fileDialogLoader"));
    if (!loader || !loader->property("active").toBool())
        return;
    if (QObject *dialog = loader->findChild<QObject *>(QStringLiteral("selectDialog")))
        QMetaObject::invokeMethod(dialog, "close");
    loader->setProperty("active", false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
