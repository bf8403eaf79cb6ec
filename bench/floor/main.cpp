// The least a Qt Quick program of the updater's kind does to show a window:
// the same application attributes, an empty compiled-in window of the same size,
// or another window given in ORVIK_FLOOR_QML.
#include "cWindowSetup.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

int main(int argc, char *argv[])
{
    cWindowSetup::setAttributes();
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrane Audio"));
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Bench Floor"));
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    // The updater's own window with stand-ins, the benchmark's baseline, or a variant of it.
    const QString other = qEnvironmentVariable("ORVIK_FLOOR_QML");
    engine.load(other.isEmpty() ? QUrl(QStringLiteral("qrc:/floor.qml"))
                                : QUrl::fromLocalFile(other));
    if (engine.rootObjects().isEmpty())
        return 1;
    return app.exec();
}
