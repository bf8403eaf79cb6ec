#include "cAccessibleButton.h"
#include "cLocalFilePath.h"
#include "cUpdateDialog.h"
#include "eUpdateState.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaType>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QSharedMemory>
#include <QUrl>
#include <QtDebug>

#include <cstdio>

namespace {
void writeLine(const char *line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
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

int runUpdater(int &argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrane Audio"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Updater"));
    QGuiApplication app(argc, argv);

    qRegisterMetaType<eUpdateState>("eUpdateState");

    auto *controller = new cUpdateDialog(nullptr);
    int exitCode = 0;
    {
        cLocalFilePath localFilePath;
        QQmlApplicationEngine engine;
        cAccessibleButton::install(engine);
        engine.rootContext()->setContextProperty(QStringLiteral("_App"), controller);
        engine.rootContext()->setContextProperty(QStringLiteral("_LocalFilePath"), &localFilePath);
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

            exitCode = app.exec();

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
    // A segment left by an instance that died is released by this last detach.
    if (guard.attach(QSharedMemory::ReadOnly))
        guard.detach();
    if (guard.attach(QSharedMemory::ReadOnly) || !guard.create(1, QSharedMemory::ReadWrite))
        return refuseSecondInstance(guard, argc, argv);

    return runUpdater(argc, argv);
}
