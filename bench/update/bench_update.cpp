// Update overhead: startUpdate() to state 2 through the real controller, the real
// flashing tool and the emulated bootloader, beside bare runs of the same tool,
// with the same arguments, through the same wrapper, on a fresh emulated device.
// Two roads:
//   serial      the device shows a USB serial port (umockdev) and switches into its
//               bootloader when the command comes in; needs umockdev-wrapper
//   bootloader  no serial port; the device already waits in its bootloader, so the
//               updater lists the devices ("-l") before flashing
// Usage: bench_update [ROUNDS [serial|bootloader|both]]
#include "cBootloaderSwitch.h" // before any Qt header (see cFakeSerialPorts.h)

#include "benchcommon.h"
#include "cToolProcess.h"
#include "cExpected.h"
#include "cOrvikEmulator.h"
#include "cUpdateDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {
const QByteArray kToolPath = QFile::encodeName(cToolProcess::toolPath());
const char *const kTool = kToolPath.constData();
constexpr double kPauseMs = 500; // the updater's fixed wait before flashing
constexpr int kImageSize = 256 * 1024;

// Milliseconds from spawn to exit of the tool, output discarded; -1 on failure.
double runTool(std::vector<const char *> args)
{
    args.insert(args.begin(), kTool);
    args.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const double t0 = bench::nowMs();
    pid_t pid = 0;
    int status = -1;
    const bool ok =
        posix_spawn(&pid, kTool, &quiet, nullptr, const_cast<char **>(args.data()), environ) == 0 &&
        waitpid(pid, &status, 0) == pid;
    const double t = bench::nowMs() - t0;
    posix_spawn_file_actions_destroy(&quiet);
    return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? t : -1;
}

struct Sample
{
    double bare = -1;   // bare download
    double list = -1;   // bare "-l" (bootloader road only)
    double total = -1;  // startUpdate() to state 2
    double inside = -1; // time spent inside startUpdate()
};

struct Row
{
    std::string name;
    std::function<double(const Sample &)> value;
};

// The rows both roads report.
const Row kBaselineRow{"bare dfu-util download, same arguments (baseline)", [](const Sample &s) {
                           return s.bare;
                       }};
const Row kUpdaterRow{"updater: startUpdate() to state 2", [](const Sample &s) {
                          return s.total;
                      }};
const Row kOverheadRow{"**overhead** = updater - 500 ms - baseline (same round)",
                       [](const Sample &s) {
                           return s.total - kPauseMs - s.bare;
                       }};
const Row kAfterReturnRow{"of which from its return to state 2, less the baseline",
                          [](const Sample &s) {
                              return s.total - s.inside - s.bare;
                          }};
Row insideRow(const char *what)
{
    return {std::string("of which in startUpdate(): ") + what + " (- 500 ms)", [](const Sample &s) {
                return s.inside - kPauseMs;
            }};
}

// Drives one update through the controller and times it.
class cUpdater
{
public:
    explicit cUpdater(const QString &image)
    {
        m_dialog.setSelectedFirmwareFile(image);
        QObject::connect(&m_dialog, &cUpdateDialog::statusChanged, [this] {
            if (m_dialog.status() == eUpdateSucceeded || m_dialog.status() == eUpdateFailed) {
                m_end = bench::nowMs();
                m_loop.quit();
            }
        });
    }

    void run(Sample &s)
    {
        m_end = 0;
        const double t0 = bench::nowMs();
        m_dialog.startUpdate();
        const double returned = bench::nowMs();
        if (m_dialog.status() == eUpdateInProgress) {
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
            limit.start(120000);
            m_loop.exec();
        }
        if (m_dialog.status() == eUpdateSucceeded && m_end > 0) {
            s.total = m_end - t0;
            s.inside = returned - t0;
        }
    }

private:
    cUpdateDialog m_dialog;
    QEventLoop m_loop;
    double m_end = 0;
};

void printTable(const char *title, const std::vector<Sample> &samples, int failures,
                const std::vector<Row> &rows)
{
    std::fprintf(bench::report(),
                 "\n### %s\n\n| %zu rounds (%d failed) | min (ms) | median (ms) | max (ms) |\n"
                 "|---|---|---|---|\n",
                 title, samples.size(), failures);
    for (const Row &r : rows) {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(r.value(s));
        const bench::Stats st = bench::stats(v);
        std::fprintf(bench::report(), "| %s | %.1f | %.1f | %.1f |\n", r.name.c_str(), st.min,
                     st.median, st.max);
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    const QByteArray roads = argc > 2 ? QByteArray(argv[2]) : QByteArray("both");
    qRegisterMetaType<eUpdateState>("eUpdateState");
    QTemporaryDir work;
    if (!cOrvikEmulator::toolAvailable() || !work.isValid() ||
        !cOrvikEmulator::installTool(work.path()) || !QDir::setCurrent(work.path())) {
        std::fprintf(stderr, "needs /usr/bin/dfu-util and a writable temporary directory\n");
        return 2;
    }
    // umockdev_in_mock_environment() only turns true once a testbed exists.
    const bool mocked = qgetenv("LD_PRELOAD").contains("libumockdev-preload");
    const bool serialRoad = roads != "bootloader";
    const bool bootloaderRoad = roads != "serial";
    if (serialRoad && !mocked) {
        std::fprintf(stderr, "the serial road needs umockdev-wrapper\n");
        return 2;
    }
    const QString image = work.filePath(QStringLiteral("app.bin"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(cExpected::image(kImageSize));
    file.close();
    const QByteArray imageArg = QFile::encodeName(image);
    auto flashArgs = [&](const char *pair) {
        return std::vector<const char *>{
            "-d", pair, "-a", "0", "-s", "0x08000000:leave", "-D", imageArg.constData()};
    };

    cUpdater updater(image);
    std::fprintf(bench::report(),
                 "## Update overhead: startUpdate() to state 2, %d KiB image, emulated device\n",
                 kImageSize / 1024);
    bench::printLoad("start");
    int status = 0;

    if (serialRoad) {
        std::vector<Sample> samples;
        int failures = 0;
        for (int i = -1; i < rounds; ++i) { // round -1 warms up and is not counted
            Sample s;
            for (int step = 0; step < 2; ++step) {
                cOrvikEmulator emulator; // a fresh device for each run
                if ((step + i + 1) % 2 == 0) {
                    emulator.startInBootloader();
                    s.bare = runTool(flashArgs("483:5740,483:df11"));
                } else {
                    // As the device does: into the bootloader once the command is in.
                    cFakeSerialPorts ports(
                        {{0x0483, 0x5740, QStringLiteral("USB Serial Device"), Fault::None}});
                    cBootloaderSwitch device(ports, emulator);
                    device.start(0);
                    updater.run(s);
                }
            }
            if (s.bare < 0 || s.total < 0)
                ++failures;
            else if (i >= 0)
                samples.push_back(s);
        }
        printTable("Serial road (port 0483:5740, command, 500 ms pause, download)", samples,
                   failures,
                   {kBaselineRow, kUpdaterRow, kOverheadRow,
                    insideRow("port search, command, tool start"), kAfterReturnRow});
        status |= failures ? 1 : 0;
    }

    if (bootloaderRoad) {
        std::vector<Sample> samples;
        int failures = 0;
        for (int i = -1; i < rounds; ++i) {
            Sample s;
            for (int step = 0; step < 3; ++step) {
                cOrvikEmulator emulator;
                emulator.startInBootloader();
                switch ((step + i + 1) % 3) {
                case 0:
                    s.bare = runTool(flashArgs("483:0,483:df11"));
                    break;
                case 1:
                    s.list = runTool({"-l"});
                    break;
                default:
                    if (mocked) {
                        // No port at all (an empty bus rather than the host's ports).
                        cFakeSerialPorts ports(QVector<PortEntry>{});
                        updater.run(s);
                    } else {
                        updater.run(s);
                    }
                    break;
                }
            }
            if (s.bare < 0 || s.list < 0 || s.total < 0)
                ++failures;
            else if (i >= 0)
                samples.push_back(s);
        }
        printTable(mocked ? "Bootloader road (no port, \"-l\", 500 ms pause, download)"
                          : "Bootloader road (host's ports, none matching; \"-l\", 500 ms pause, "
                            "download)",
                   samples, failures,
                   {kBaselineRow,
                    {"bare dfu-util -l (the updater's listing)",
                     [](const Sample &s) {
                         return s.list;
                     }},
                    kUpdaterRow,
                    kOverheadRow,
                    {"overhead less the listing = updater - 500 ms - baseline - bare -l",
                     [](const Sample &s) {
                         return s.total - kPauseMs - s.bare - s.list;
                     }},
                    insideRow("port search, listing, tool start"),
                    kAfterReturnRow});
        status |= failures ? 1 : 0;
    }
    std::fprintf(bench::report(), "\n");
    bench::printLoad("end");
    QDir::setCurrent(QDir::tempPath());
    return status;
}
