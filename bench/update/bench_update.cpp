// What an update costs beyond the flashing tool's own time: startUpdate() to state 2 through
// the real controller, the real flashing tool and the emulated bootloader, whose erases and
// writes take as long as a real flash's, beside bare runs of the same tool with the same
// arguments on a fresh emulated device, in one run, the order alternating from round to round.
// Roads:
//   bootloader  no serial port; the device already waits in its bootloader, so the updater
//               lists the devices ("-l") before flashing
//   serial      the device's USB serial port takes the command, and its bootloader shows 1 s
//               and 4 s later. Linux: under umockdev-wrapper. Windows (under Wine): the ports
//               that bench/update/wine-serial.sh sets up, COM5 for the updater, COM6 for the
//               device's side.
//   leave       (Linux, with umockdev) no port; the bootloader drops off at the leave request
//               and the Orvik's port shows 1 s later: from the port's return to state 2, and
//               the longest the event loop stalled while the updater looked for it
// Usage: bench_update [ROUNDS [serial|bootloader|leave|both]] ("both": all three)
#ifndef _WIN32
#include "cBootloaderSwitch.h" // before any Qt header (see cFakeSerialPorts.h)
#endif

#include "benchcommon.h"
#include "cExpected.h"
#include "cOrvikEmulator.h"
#include "cToolProcess.h"
#include "cUpdateDialog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#ifdef Q_OS_WIN
#include <QSerialPortInfo>

#include <thread>
#include <windows.h>
#endif

#include <functional>

namespace {
constexpr double kPauseMs = 500; // the updater's fixed wait before flashing
constexpr int kImageSize = 256 * 1024;
// A flash of the emulated layout: a 128 KiB sector erases in about 1 s, a 2 KiB block is
// programmed in about 8 ms.
constexpr int kEraseMsPerKib = 8;
constexpr int kWriteMsPerBlock = 8;
constexpr int kBootloaderAfterMs[] = {1000, 4000};

double epochMs()
{
    return double(QDateTime::currentMSecsSinceEpoch());
}

struct Sample
{
    double bare = -1;       // bare download, start to exit
    double barePiped = -1;  // the same, its output read through pipes as the updater reads it
    double bareClaim = -1;  // bare download, start to its claim of the device
    double bareWrite = -1;  // bare download, start to its first block
    double list = -1;       // bare "-l" (bootloader road only)
    double total = -1;      // startUpdate() to state 2
    double inside = -1;     // time spent inside startUpdate()
    double toWrite = -1;    // startUpdate() to the first block
    double shownClaim = -1; // the bootloader showing to the flashing run's claim (serial road)
    double backToDone = -1; // the port back after the leave request to state 2 (leave road)
    double waitStall = -1;  // the longest stall of the event loop meanwhile (leave road)
};

enum class Output
{
    Discarded,
    Read
};

// One run of the tool, timed against the device's stamps.
bool runTool(const cOrvikEmulator &emulator, const QStringList &args, double &ms,
             double *claim = nullptr, double *write = nullptr, Output output = Output::Discarded)
{
    QProcess tool;
    if (output == Output::Discarded) {
        tool.setStandardOutputFile(QProcess::nullDevice());
        tool.setStandardErrorFile(QProcess::nullDevice());
    } else {
        QObject::connect(&tool, &QProcess::readyReadStandardOutput,
                         [&tool] { tool.readAllStandardOutput(); });
    }
    const double t0 = epochMs();
    QElapsedTimer clock;
    clock.start();
    tool.start(cToolProcess::toolPath(), args);
    if (!tool.waitForFinished(120000) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0)
        return false;
    ms = clock.nsecsElapsed() / 1e6;
    if (claim)
        *claim = emulator.timeOf("claimed-at") - t0;
    if (write)
        *write = emulator.timeOf("first-write-at") - t0;
    return true;
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
                m_doneAt = epochMs();
                m_loop.quit();
            }
        });
    }
    // When the last run reached its end state (ms since the epoch).
    double doneAt() const { return m_doneAt; }
    bool restarting() const { return m_dialog.restarting(); }

    bool run(const cOrvikEmulator &emulator, Sample &s)
    {
        const double t0 = epochMs();
        QElapsedTimer clock;
        clock.start();
        m_dialog.startUpdate();
        s.inside = clock.nsecsElapsed() / 1e6;
        if (m_dialog.status() == eUpdateInProgress) {
            QTimer limit; // this run's own: a stray one would end a later run early
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &m_loop, &QEventLoop::quit);
            limit.start(120000);
            m_loop.exec();
        }
        if (m_dialog.status() != eUpdateSucceeded) {
            std::fprintf(stderr, "update failed: %s\n", qPrintable(m_dialog.statusInfo()));
            return false;
        }
        s.total = clock.nsecsElapsed() / 1e6;
        s.toWrite = emulator.timeOf("first-write-at") - t0;
        s.shownClaim = emulator.timeOf("claimed-at") - emulator.timeOf("appears-at");
        return true;
    }

private:
    cUpdateDialog m_dialog;
    QEventLoop m_loop;
    double m_doneAt = -1;
};

#ifdef Q_OS_WIN
// The device's side under Wine: its own port, linked to the updater's; once the command is
// in, the bootloader shows afterMs later. Plain blocking reads: Wine's wait for serial events,
// which QSerialPort reads through, never fires on a pty.
class cDeviceSide
{
public:
    cDeviceSide(cOrvikEmulator &emulator, int afterMs)
        : m_port(CreateFileW(L"\\\\.\\COM6", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadTotalTimeoutConstant = 100;
        if (m_port == INVALID_HANDLE_VALUE || !SetCommTimeouts(m_port, &timeouts)) {
            std::fprintf(stderr, "COM6 cannot be opened (error %lu)\n", GetLastError());
            return;
        }
        m_watcher = std::thread([this, &emulator, afterMs] {
            char command[8];
            DWORD got = 0;
            QElapsedTimer clock;
            clock.start();
            while (got < sizeof command && clock.elapsed() < 30000) {
                DWORD read = 0;
                if (!ReadFile(m_port, command + got, DWORD(sizeof command) - got, &read, nullptr))
                    break;
                got += read;
            }
            if (got == sizeof command)
                emulator.enterBootloader(afterMs);
        });
    }
    ~cDeviceSide()
    {
        if (m_watcher.joinable())
            m_watcher.join();
        if (m_port != INVALID_HANDLE_VALUE)
            CloseHandle(m_port);
    }
    bool isValid() const { return m_watcher.joinable(); }

private:
    HANDLE m_port;
    std::thread m_watcher;
};

bool serialRoadAvailable()
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(), [](const QSerialPortInfo &info) {
        return info.portName() == QLatin1String("COM6");
    });
}

bool updateThroughPort(cUpdater &updater, cOrvikEmulator &emulator, int afterMs, Sample &s)
{
    cDeviceSide device(emulator, afterMs);
    return device.isValid() && updater.run(emulator, s);
}

// The prefix lists no device of its own: the faked ports are there only for the serial road.
bool updateWithoutPort(cUpdater &updater, cOrvikEmulator &emulator, Sample &s)
{
    return updater.run(emulator, s);
}
#else
bool serialRoadAvailable()
{
    // umockdev_in_mock_environment() only turns true once a testbed exists.
    return qgetenv("LD_PRELOAD").contains("libumockdev-preload");
}

bool updateThroughPort(cUpdater &updater, cOrvikEmulator &emulator, int afterMs, Sample &s)
{
    cFakeSerialPorts ports({{0x0483, 0x5740, QStringLiteral("USB Serial Device"), Fault::None}});
    cBootloaderSwitch device(ports, emulator);
    device.start(0, afterMs);
    return updater.run(emulator, s);
}

bool updateWithoutPort(cUpdater &updater, cOrvikEmulator &emulator, Sample &s)
{
    // No port at all, rather than the host's ports.
    std::unique_ptr<cFakeSerialPorts> ports;
    if (serialRoadAvailable())
        ports = std::make_unique<cFakeSerialPorts>(QVector<PortEntry>{});
    return updater.run(emulator, s);
}

// The bootloader drops off at the leave request; the Orvik's port shows 1 s after it has gone.
bool updateDroppingAtLeave(cUpdater &updater, cOrvikEmulator &emulator, Sample &s)
{
    cFakeSerialPorts ports({});
    emulator.setFault(QStringLiteral("vanish-leave"));
    emulator.startInBootloader();
    double backAt = -1;
    QTimer device;
    QObject::connect(&device, &QTimer::timeout, [&] {
        if (emulator.mode() != QLatin1String("run"))
            return;
        device.stop();
        QTimer::singleShot(1000, &device, [&] {
            ports.add({0x0483, 0x5740, QStringLiteral("USB Serial Device"), Fault::None});
            backAt = epochMs();
        });
    });
    device.start(5);
    // A tick every 5 ms while the updater looks for the port: a late tick is a stall.
    QElapsedTimer sinceTick;
    double stall = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        if (updater.restarting() && sinceTick.isValid())
            stall = std::max(stall, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.start();
    });
    ticks.start(5);
    if (!updater.run(emulator, s) || backAt < 0)
        return false;
    s.backToDone = updater.doneAt() - backAt;
    s.waitStall = stall;
    return true;
}
#endif

struct Row
{
    std::string name;
    std::function<double(const Sample &)> value;
    bool ratio = false;
};

void printTable(const std::string &title, const std::vector<Sample> &samples, int failures,
                const std::vector<Row> &rows)
{
    std::fprintf(bench::report(),
                 "\n### %s\n\n| %zu rounds (%d failed) | min | median | max |\n|---|---|---|---|\n",
                 title.c_str(), samples.size(), failures);
    for (const Row &r : rows) {
        std::vector<double> v;
        for (const Sample &s : samples)
            v.push_back(r.value(s));
        const bench::Stats st = bench::stats(v);
        const char *format =
            r.ratio ? "| %s | %.3fx | %.3fx | %.3fx |\n" : "| %s | %.0f ms | %.0f ms | %.0f ms |\n";
        std::fprintf(bench::report(), format, r.name.c_str(), st.min, st.median, st.max);
    }
    std::fflush(bench::report());
}

// Runs "rounds" rounds (and one uncounted first) of the given runs, each on a fresh device,
// the order rotating from round to round; a round counts only if all its runs succeeded.
std::vector<Sample>
measure(int rounds, int &failures,
        const std::vector<std::function<bool(cOrvikEmulator &, Sample &)>> &runs)
{
    std::vector<Sample> samples;
    for (int i = -1; i < rounds; ++i) {
        Sample s;
        bool ok = true;
        for (size_t step = 0; step < runs.size(); ++step) {
            cOrvikEmulator emulator;
            emulator.setTiming(kEraseMsPerKib, kWriteMsPerBlock);
            ok = runs[(step + size_t(i + 1)) % runs.size()](emulator, s) && ok;
        }
        if (!ok)
            ++failures;
        else if (i >= 0)
            samples.push_back(s);
    }
    return samples;
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
        std::fprintf(stderr, "needs the flashing tool and a writable temporary directory\n");
        return 2;
    }
    const bool serialRoad = roads == "serial" || roads == "both";
    const bool bootloaderRoad = roads == "bootloader" || roads == "both";
    // With fake ports only: the host's could show a port of its own.
    const bool leaveRoad = (roads == "leave" || roads == "both") && serialRoadAvailable();
    if (serialRoad && !serialRoadAvailable()) {
        std::fprintf(stderr, "the serial road needs fake serial ports: umockdev-wrapper on Linux, "
                             "bench/update/wine-serial.sh under Wine\n");
        return 2;
    }
    const QString image = work.filePath(QStringLiteral("app.bin"));
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly))
        return 2;
    file.write(cExpected::image(kImageSize));
    file.close();
    auto flashArgs = [&](const char *pair) {
        return QStringList{QStringLiteral("-d"), QLatin1String(pair),
                           QStringLiteral("-a"), QStringLiteral("0"),
                           QStringLiteral("-s"), QStringLiteral("0x08000000:leave"),
                           QStringLiteral("-D"), image};
    };

    cUpdater updater(image);
    std::fprintf(bench::report(),
                 "## Update beyond the tool: %d KiB image, emulated device erasing %d ms per KiB "
                 "of sector, writing %d ms per 2 KiB block\n",
                 kImageSize / 1024, kEraseMsPerKib, kWriteMsPerBlock);
    bench::printLoad("start");
    int status = 0;
    const Row bareRow{"bare tool: start to exit (baseline)", [](const Sample &s) {
                          return s.bare;
                      }};
    const Row totalRow{"updater: Update to state 2", [](const Sample &s) {
                           return s.total;
                       }};
    const Row ratioRow{"**whole update / bare tool**",
                       [](const Sample &s) { return s.total / s.bare; }, true};
    const Row writeRows[] = {{"bare tool: start to its first write",
                              [](const Sample &s) {
                                  return s.bareWrite;
                              }},
                             {"updater: Update to the tool's first write", [](const Sample &s) {
                                  return s.toWrite;
                              }}};

    if (bootloaderRoad) {
        int failures = 0;
        const std::vector<Sample> samples =
            measure(rounds, failures,
                    {[&](cOrvikEmulator &emulator, Sample &s) {
                         emulator.startInBootloader();
                         return runTool(emulator, flashArgs("483:0,483:df11"), s.bare, nullptr,
                                        &s.bareWrite);
                     },
                     [&](cOrvikEmulator &emulator, Sample &s) {
                         emulator.startInBootloader();
                         return runTool(emulator, flashArgs("483:0,483:df11"), s.barePiped, nullptr,
                                        nullptr, Output::Read);
                     },
                     [&](cOrvikEmulator &emulator, Sample &s) {
                         emulator.startInBootloader();
                         return runTool(emulator, {QStringLiteral("-l")}, s.list);
                     },
                     [&](cOrvikEmulator &emulator, Sample &s) {
                         emulator.startInBootloader();
                         return updateWithoutPort(updater, emulator, s);
                     }});
        printTable("Bootloader road (no port; \"-l\", 500 ms pause, download)", samples, failures,
                   {bareRow,
                    writeRows[0],
                    totalRow,
                    writeRows[1],
                    ratioRow,
                    {"beyond the tool = updater - bare tool",
                     [](const Sample &s) {
                         return s.total - s.bare;
                     }},
                    {"bare tool -l (the updater's listing)",
                     [](const Sample &s) {
                         return s.list;
                     }},
                    {"beyond the tool, the 500 ms pause and the listing",
                     [](const Sample &s) {
                         return s.total - s.bare - kPauseMs - s.list;
                     }},
                    {"of which inside startUpdate() (image check and copy, port search, "
                     "listing, pause, tool start), less the pause and the listing",
                     [](const Sample &s) {
                         return s.inside - kPauseMs - s.list;
                     }},
                    {"of which from its return to state 2, less the bare tool",
                     [](const Sample &s) {
                         return s.total - s.inside - s.bare;
                     }},
                    {"bare tool, its output read through pipes (information), less the baseline",
                     [](const Sample &s) {
                         return s.barePiped - s.bare;
                     }}});
        status |= failures ? 1 : 0;
    }

#ifndef Q_OS_WIN
    if (leaveRoad) {
        int failures = 0;
        const std::vector<Sample> samples =
            measure(rounds, failures, {[&](cOrvikEmulator &emulator, Sample &s) {
                        return updateDroppingAtLeave(updater, emulator, s);
                    }});
        printTable(
            "Dropped off at the leave request, the port back 1 s later", samples, failures,
            {{"**port back to state 2**",
              [](const Sample &s) {
                  return s.backToDone;
              }},
             {"longest stall of the event loop while looking (5 ms ticks)", [](const Sample &s) {
                  return s.waitStall;
              }}});
        status |= failures ? 1 : 0;
    }
#endif

    for (const int afterMs : kBootloaderAfterMs) {
        if (!serialRoad)
            break;
        int failures = 0;
        const std::vector<Sample> samples =
            measure(rounds, failures,
                    {[&](cOrvikEmulator &emulator, Sample &s) {
                         emulator.startInBootloader();
                         return runTool(emulator, flashArgs("483:5740,483:df11"), s.bare,
                                        &s.bareClaim, &s.bareWrite);
                     },
                     [&](cOrvikEmulator &emulator, Sample &s) {
                         return updateThroughPort(updater, emulator, afterMs, s);
                     }});
        printTable("Serial road, the bootloader showing " + std::to_string(afterMs) +
                       " ms after the command",
                   samples, failures,
                   {bareRow,
                    writeRows[0],
                    totalRow,
                    writeRows[1],
                    ratioRow,
                    {"bootloader shows to the flashing run's claim of it",
                     [](const Sample &s) {
                         return s.shownClaim;
                     }},
                    {"bare tool: start to its claim",
                     [](const Sample &s) {
                         return s.bareClaim;
                     }},
                    {"**bootloader shows to the flashing run's start** (claim less the bare "
                     "tool's start to claim)",
                     [](const Sample &s) {
                         return s.shownClaim - s.bareClaim;
                     }}});
        status |= failures ? 1 : 0;
    }
    std::fprintf(bench::report(), "\n");
    bench::printLoad("end");
    QDir::setCurrent(QDir::tempPath());
    return status;
}
