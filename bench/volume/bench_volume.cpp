// Output volume: 100 MB of progress records (61 bytes, one write() each, as the
// real tool writes them; the pipe gathers several into one chunk) through a real
// QProcess into cFirmwareUpdate::ProcessOutput and the update log, beside two
// bare QProcess readers: one that only counts the bytes, and one that keeps them
// as text and writes them to a file in slices, the least any log of the whole
// output costs. Each run is a child process of its own, so that VmHWM is its own.
// Usage: bench_volume [RUNS [MEGABYTES]]
#include "benchcommon.h"
#include "cToolProcess.h"
#include "cFirmwareUpdate.h"
#include "cToolOutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

namespace {
const QString kTool = cToolProcess::toolPath();
const QStringList kModes{QStringLiteral("count"), QStringLiteral("keep"),
                         QStringLiteral("updater")};
const char *const kNames[] = {"bare reader, counting only (baseline)",
                              "bare reader keeping the text, written in 1 M-char slices",
                              "updater: cFirmwareUpdate (ProcessOutput + update log)"};

struct Result
{
    double ms = 0;        // flashing run started to its end handled
    double writeMs = 0;   // of which: end of output to end handled (the log write)
    double chunks = 0;    // readyReadStandardOutput signals
    double hwmBefore = 0; // VmHWM (KiB) when the output has ended, before the log write
    double hwm = 0;       // VmHWM (KiB) at the end
    double rss = 0;       // VmRSS (KiB) at the end, the text still held
};

long kb(const char *field)
{
    return bench::statusKb("self", field);
}

// One run; prints "MS WRITEMS CHUNKS HWMBEFORE HWM RSS" as its last line.
int child(const QString &mode)
{
    QEventLoop loop;
    Result r;
    double t0 = 0, tOutputEnd = 0, tEnd = 0;
    bool ok = false;
    if (mode == QLatin1String("updater")) {
        cFirmwareUpdate update(QDir::current().filePath(QStringLiteral("app.bin")), nullptr);
        QObject::connect(&update, &cFirmwareUpdate::UpdateComplete, [&](bool success) {
            tEnd = bench::nowMs();
            ok = success;
            loop.quit();
        });
        if (!update.BeginUpdate())
            return 1;
        t0 = bench::nowMs(); // the flashing run has just been started
        auto *process = update.findChild<QProcess *>();
        if (!process)
            return 1;
        // Both come after the update object's own handling of the same signal;
        // readChannelFinished comes after the last output, before finished().
        QObject::connect(process, &QProcess::readyReadStandardOutput, [&] { ++r.chunks; });
        QObject::connect(process, &QProcess::readChannelFinished, [&] {
            tOutputEnd = bench::nowMs();
            r.hwmBefore = kb("VmHWM");
        });
        loop.exec();
        // The output log is still held here, as it is in the program after a run.
        r.rss = kb("VmRSS");
    } else {
        const bool keep = mode == QLatin1String("keep");
        QProcess process;
        QString text;
        long bytes = 0;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, [&] {
            const QByteArray chunk = process.readAllStandardOutput();
            bytes += chunk.size();
            if (keep)
                text += cToolOutput::decodeUtf8(chunk);
            ++r.chunks;
        });
        QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
                         [&](int code) {
                             tOutputEnd = bench::nowMs();
                             r.hwmBefore = kb("VmHWM");
                             if (keep) {
                                 QFile log(QStringLiteral("keep.log"));
                                 if (log.open(QIODevice::WriteOnly | QIODevice::Text)) {
                                     QTextStream stream(&log);
                                     constexpr int kSlice = 1 << 20;
                                     for (int at = 0; at < text.size(); at += kSlice)
                                         stream << QStringView(text).mid(at, kSlice);
                                     stream << '\n';
                                 }
                             }
                             tEnd = bench::nowMs();
                             ok = code == 0 && bytes > 0;
                             loop.quit();
                         });
        process.start(kTool, {QStringLiteral("-D"), QStringLiteral("app.bin")});
        t0 = bench::nowMs();
        loop.exec();
        r.rss = kb("VmRSS");
    }
    r.hwm = kb("VmHWM");
    std::printf("\n%.1f %.1f %.0f %.0f %.0f %.0f\n", tEnd - t0, tEnd - tOutputEnd, r.chunks,
                r.hwmBefore, r.hwm, r.rss);
    return ok && tOutputEnd > 0 ? 0 : 1;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--child")
        return child(QString::fromLatin1(argv[2]));
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const double megabytes = argc > 2 ? std::atof(argv[2]) : 100;
    QTemporaryDir work;
    if (!work.isValid() || !QDir(work.path()).mkpath(QFileInfo(kTool).path()) ||
        !QFile::copy(QStringLiteral(BENCHTOOL_PATH), work.filePath(kTool)))
        return 2;
    qputenv("BENCHTOOL_MODE", "volume");
    qputenv("BENCHTOOL_BYTES", QByteArray::number(qint64(megabytes * 1e6)));

    FILE *out = bench::report();
    std::fprintf(out, "## Output volume: %.0f MB of 61-byte records into the output handling\n",
                 megabytes);
    bench::printLoad("start");
    std::vector<Result> results[3];
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 3; ++k) {
            const int which = (k + i) % 3; // the order rotates from round to round
            QProcess run;
            run.setWorkingDirectory(work.path());
            run.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--child"), kModes[which]});
            run.waitForFinished(600000);
            // The last line: the update object may have written lines of its own.
            const QList<QByteArray> f =
                run.readAllStandardOutput().trimmed().split('\n').last().split(' ');
            QFile::remove(work.filePath(QStringLiteral("app.OrvikUpdater.log")));
            QFile::remove(work.filePath(QStringLiteral("keep.log")));
            if (run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0 || f.size() != 6) {
                ++failures;
                continue;
            }
            results[which].push_back({f[0].toDouble(), f[1].toDouble(), f[2].toDouble(),
                                      f[3].toDouble() / 1024, f[4].toDouble() / 1024,
                                      f[5].toDouble() / 1024});
        }
    }
    std::fprintf(
        out,
        "\n| %d runs each (%d failed) | time min (ms) | median (ms) | MB/s (median) | "
        "chunks (median) | of which end handling (ms, median) | VmHWM at end of output "
        "(MiB, median) | VmHWM min (MiB) | VmHWM median (MiB) | VmRSS at end (MiB, median) "
        "|\n|---|---|---|---|---|---|---|---|---|---|\n",
        runs, failures);
    for (int k = 0; k < 3; ++k) {
        auto column = [&](double Result::*field) {
            std::vector<double> v;
            for (const Result &r : results[k])
                v.push_back(r.*field);
            return bench::stats(v);
        };
        const bench::Stats t = column(&Result::ms), h = column(&Result::hwm);
        std::fprintf(out, "| %s | %.0f | %.0f | %.1f | %.0f | %.0f | %.1f | %.1f | %.1f | %.1f |\n",
                     kNames[k], t.min, t.median, t.median > 0 ? megabytes / (t.median / 1000) : 0,
                     column(&Result::chunks).median, column(&Result::writeMs).median,
                     column(&Result::hwmBefore).median, h.min, h.median,
                     column(&Result::rss).median);
    }
    std::fprintf(out, "\n");
    bench::printLoad("end");
    return failures ? 1 : 0;
}
