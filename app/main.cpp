#include "cDevicePresence.h"
#include "cDeviceAccess.h"
#include "cImageCopy.h"
#include "cLocalFilePath.h"
#include "cUpdateDialog.h"
#include "cWindowSetup.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSharedMemory>
#include <QUrl>
#include <QtDebug>

#include <cstdio>
#include <memory>

namespace {
void writeLine(const char *line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Whether no other instance runs. A segment left by an instance that died is released by the
// last detach, found through the key file in the temporary folder. When that file was removed
// meanwhile, a file made anew may get the same key, and then create() fails with the segment
// in its way: it keeps the file, so a second round finds the segment and releases it.
bool takeGuard(QSharedMemory &guard)
{
    for (int round = 0; round < 2; ++round) {
        if (guard.attach(QSharedMemory::ReadOnly))
            guard.detach();
        if (guard.attach(QSharedMemory::ReadOnly))
            return false;
        if (guard.create(1, QSharedMemory::ReadWrite))
            return true;
    }
    return false;
}

// A second instance only says so and leaves; the running one is not disturbed.
int refuseSecondInstance(QSharedMemory &guard, int &argc, char **argv)
{
    qDebug("An instance of Orvik Updater is already running.");
    QApplication app(argc, argv);
    {
        QMessageBox box;
        box.setText(
            QStringLiteral("Orvik Updater is already running. Only one instance can run at once."));
        box.exec();
        guard.detach();
    }
    return 0;
}

// Watching for the device lists ports and may run the flashing tool: not before the window
// is on the screen.
void startAfterFirstFrame(const QQmlApplicationEngine &engine, cDevicePresence &presence)
{
    const QList<QObject *> roots = engine.rootObjects();
    auto *window = roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(roots.first());
    if (!window)
        return;
    auto firstFrame = std::make_shared<QMetaObject::Connection>();
    // Queued: the frame may be swapped on the render thread.
    *firstFrame = QObject::connect(
        window, &QQuickWindow::frameSwapped, &presence,
        [&presence, firstFrame] {
            QObject::disconnect(*firstFrame);
            presence.start();
        },
        Qt::QueuedConnection);
}

int runUpdater(int &argc, char **argv)
{
    cWindowSetup::beforeApplication();
    QGuiApplication app(argc, argv);
    // Only this instance runs now: no run of ours needs the copies that are left.
    cImageCopy::removeLeftovers();
    cWindowSetup::afterApplication();

    auto *controller = new cUpdateDialog(nullptr);
    int exitCode = 0;
    {
        cLocalFilePath localFilePath;
        cDevicePresence presence;
        cDeviceAccess access;
        QQmlApplicationEngine engine;
        cWindowSetup::publish(engine, controller, &localFilePath, &presence, &access);
        {
            const QUrl url(QStringLiteral("qrc:/main.qml"));
            QObject::connect(
                &engine, &QQmlApplicationEngine::objectCreated, &app,
                [url](QObject *obj, const QUrl &objUrl) {
                    if (!obj && url == objUrl)
                        QCoreApplication::exit(-1);
                },
                Qt::QueuedConnection);
            engine.load(url);
            startAfterFirstFrame(engine, presence);

            exitCode = app.exec();
            cWindowSetup::releaseFileDialog(engine);

            controller->WaitForUpdate();
            delete controller;
            writeLine("cUpdateDialog destroyed");
        }
    }
    return exitCode;
}
} // namespace

int main(int argc, char *argv[])
{
    writeLine("Orvik Updater");

    QSharedMemory guard(QStringLiteral("OrvikUpdaterRunning"));
    if (!takeGuard(guard))
        return refuseSecondInstance(guard, argc, argv);

    return runUpdater(argc, argv);
}
