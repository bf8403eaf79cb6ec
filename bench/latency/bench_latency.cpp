// Progress latency: from the stand-in tool's write() of a progress record to the
// change of the window's status text, with the real window (qrc:/main.qml) bound
// to the real controller; beside the arrival of the same record at a bare QProcess
// reader in the same process. Both sides read CLOCK_MONOTONIC; records come 20 ms
// apart, so each is a chunk of its own. The frame that first shows each text is
// reported too, for information: when it comes is the render loop's business.
// Usage: bench_latency [RUNS]   (under an X server; without DISPLAY the offscreen
// platform with the software renderer)
#include "benchcommon.h"
#include "cToolProcess.h"
#include "cDevicePresence.h"
#include "cDeviceAccess.h"
#include "cLocalFilePath.h"
#include "cUpdateDialog.h"
#include "cWindowSetup.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMetaProperty>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QStandardPaths>
#include <QTimer>

#include <mutex>

namespace {
const QString kTool = cToolProcess::toolPath();
const QString kProgress =
    QStringLiteral("Updating... do not power off unit or quit updater! (%1%)");

struct Written
{
    bool download;
    int percent;
    double ms;
};

using Seen = QList<QPair<double, QString>>;

QList<Written> readLog(const QString &path)
{
    QList<Written> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 3)
            records.append({f[0] == "D", f[1].toInt(), f[2].toDouble()});
    }
    return records;
}

void waitFor(QEventLoop &loop)
{
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(60000);
    loop.exec();
}

// The ms from each written record to the first entry showing it; misses counted.
void match(const QList<Written> &written, const Seen &seen, std::vector<double> &out, int &missed)
{
    for (const Written &w : written) {
        const int overall = w.download ? w.percent / 2 + 50 : w.percent / 2;
        const QString text = kProgress.arg(overall);
        const auto it =
            std::find_if(seen.begin(), seen.end(), [&](const auto &s) { return s.second == text; });
        if (it == seen.end())
            ++missed; // folded into a later record's chunk
        else
            out.push_back(it->first - w.ms);
    }
}
} // namespace

// Notes every change of the text of the window's Text items.
class cTextWatcher : public QObject
{
    Q_OBJECT

public:
    explicit cTextWatcher(QQuickItem *root)
    {
        const QMetaMethod slot = metaObject()->method(metaObject()->indexOfSlot("changed()"));
        watch(root, slot);
    }
    Seen seen;

private slots:
    void changed() { seen.append({bench::nowMs(), sender()->property("text").toString()}); }

private:
    void watch(QQuickItem *item, const QMetaMethod &slot)
    {
        const int index = item->metaObject()->indexOfProperty("text");
        if (index >= 0 && std::strcmp(item->metaObject()->className(), "QQuickText") == 0)
            connect(item, item->metaObject()->property(index).notifySignal(), this, slot);
        for (QQuickItem *child : item->childItems())
            watch(child, slot);
    }
};

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // No OpenGL there.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
#else
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
#endif
    }
    cWindowSetup::beforeApplication();
    QCoreApplication::setApplicationName(QStringLiteral("Orvik Updater Bench"));
    QStandardPaths::setTestModeEnabled(true); // the file dialog's settings stay out of ~/.config
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    cWindowSetup::afterApplication();
    QTemporaryDir work;
    if (!work.isValid() || !QDir(work.path()).mkpath(QFileInfo(kTool).path()) ||
        !QFile::copy(QStringLiteral(BENCHTOOL_PATH), work.filePath(kTool)) ||
        !QDir::setCurrent(work.path()))
        return 2;
    const QString log = work.filePath(QStringLiteral("written.txt"));
    qputenv("BENCHTOOL_MODE", "latency");
    qputenv("BENCHTOOL_LOG", QFile::encodeName(log));

    cUpdateDialog dialog;
    Seen shown;
    QObject::connect(&dialog, &cUpdateDialog::statusInfoChanged, [&] {
        shown.append({bench::nowMs(), dialog.statusInfo()});
    });
    cLocalFilePath localFilePath;
    cDevicePresence presence; // not started: the status line shows the run's texts only
    cDeviceAccess access;
    QQmlApplicationEngine engine;
    cWindowSetup::publish(engine, &dialog, &localFilePath, &presence, &access);
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    auto *window = engine.rootObjects().isEmpty()
                       ? nullptr
                       : qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    if (!window) {
        std::fprintf(stderr, "the window did not load\n");
        return 2;
    }
    cTextWatcher texts(window->contentItem());
    // A frame shows a text when its synchronisation began after the change; both
    // signals may come from the render thread.
    std::mutex frameMutex;
    std::vector<double> syncs, swaps;
    QObject::connect(window, &QQuickWindow::beforeSynchronizing, [&] {
        const std::lock_guard<std::mutex> lock(frameMutex);
        syncs.push_back(bench::nowMs());
    });
    QObject::connect(window, &QQuickWindow::frameSwapped, [&] {
        const std::lock_guard<std::mutex> lock(frameMutex);
        swaps.push_back(bench::nowMs());
    });
    dialog.setSelectedFirmwareFile(work.filePath(QStringLiteral("app.bin")));

    std::vector<double> bare, controller, text, frame;
    int missedBare = 0, missedController = 0, missedText = 0, missedFrame = 0, total = 0;
    FILE *out = bench::report();
    std::fprintf(out, "## Progress latency: tool write() to the window's status text\n");
    bench::printLoad("start");
    for (int i = 0; i < 2 * runs; ++i) {
        QFile::remove(log);
        QEventLoop loop;
        if (i % 2 == 0) {
            // Baseline: the time the chunk holding a record's last byte is read.
            QProcess process;
            QByteArray all;
            std::vector<double> arrival; // per byte of "all"
            QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
                const double t = bench::nowMs();
                const QByteArray chunk = process.readAllStandardOutput();
                all += chunk;
                arrival.insert(arrival.end(), size_t(chunk.size()), t);
            });
            QObject::connect(&process,
                             QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
                             &QEventLoop::quit);
            process.start(kTool, {QStringLiteral("-D"), QStringLiteral("app.bin")});
            waitFor(loop);
            int from = 0;
            for (const Written &w : readLog(log)) {
                from = all.indexOf('\r', from);
                if (from < 0 || from + 60 >= all.size()) {
                    ++missedBare;
                    continue;
                }
                bare.push_back(arrival[size_t(from + 60)] - w.ms);
                from += 61;
            }
        } else {
            shown.clear();
            texts.seen.clear();
            {
                const std::lock_guard<std::mutex> lock(frameMutex);
                syncs.clear();
                swaps.clear();
            }
            QObject::connect(&dialog, &cUpdateDialog::statusChanged, &loop, [&] {
                if (dialog.status() != eUpdateInProgress)
                    loop.quit();
            });
            dialog.startUpdate();
            if (dialog.status() == eUpdateInProgress)
                waitFor(loop);
            const QList<Written> written = readLog(log);
            total += written.size();
            match(written, shown, controller, missedController);
            match(written, texts.seen, text, missedText);
            // Let the last frame come, then turn each text change into its frame.
            QTimer::singleShot(200, &loop, &QEventLoop::quit);
            loop.exec();
            Seen frames;
            const std::lock_guard<std::mutex> lock(frameMutex);
            for (const auto &change : texts.seen) {
                const auto sync = std::upper_bound(syncs.begin(), syncs.end(), change.first);
                if (sync == syncs.end())
                    continue;
                const auto swap = std::lower_bound(swaps.begin(), swaps.end(), *sync);
                if (swap != swaps.end())
                    frames.append({*swap, change.second});
            }
            match(written, frames, frame, missedFrame);
        }
    }
    const bench::Stats b = bench::stats(bare), c = bench::stats(controller), t = bench::stats(text),
                       f = bench::stats(frame);
    std::fprintf(out,
                 "\n| %d runs each, %d records per side | records seen | min (ms) | median (ms) | "
                 "max (ms) |\n|---|---|---|---|---|\n",
                 runs, total);
    std::fprintf(out, "| bare QProcess read (baseline) | %zu (%d not) | %.3f | %.3f | %.3f |\n",
                 bare.size(), missedBare, b.min, b.median, b.max);
    std::fprintf(
        out, "| updater: controller's statusInfoChanged | %zu (%d not) | %.3f | %.3f | %.3f |\n",
        controller.size(), missedController, c.min, c.median, c.max);
    std::fprintf(out,
                 "| updater: window's status Text changed | %zu (%d not) | %.3f | %.3f | %.3f |\n",
                 text.size(), missedText, t.min, t.median, t.max);
    std::fprintf(out, "| **window - baseline** | | %.3f | %.3f | |\n", t.min - b.min,
                 t.median - b.median);
    std::fprintf(out,
                 "| first frame showing it (for information) | %zu (%d not) | %.3f | %.3f | "
                 "%.3f |\n\nrender loop: %s, platform: %s\n",
                 frame.size(), missedFrame, f.min, f.median, f.max,
                 qgetenv("QSG_RENDER_LOOP").isEmpty() ? "default"
                                                      : qgetenv("QSG_RENDER_LOOP").constData(),
                 qPrintable(QGuiApplication::platformName()));
    bench::printLoad("end");
    QDir::setCurrent(QDir::tempPath());
    return total && !text.empty() ? 0 : 1;
}

#include "bench_latency.moc"
