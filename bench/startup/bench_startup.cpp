// Start-up time and idle memory of a Qt Quick program under an X server.
// The first frame is the first Damage event on the program's mapped top-level
// window named TITLE: the watcher asks for SubstructureNotify on the root
// before the program is spawned and attaches a Damage object to every
// top-level window when it is created, before it can be drawn. Qt creates its
// windows with no background, so mapping alone reports no damage; the first
// report is the first frame put on the window (glXSwapBuffers / PutImage).
// Under Wine the frame is drawn into a child X window of the top-level (Wine's GL
// drawable), so the watcher also follows the children of each top-level and counts the
// damage of a mapped child of the titled one, all but its first report: as Wine sets the
// child up, right after mapping it, it puts the drawable's empty buffer on it once (a
// black MIT-SHM PutImage after glXCreateWindow, seen with xtrace).
// Each program is started the same way, from this process (under Wine, from
// bench_winlaunch), with output discarded.
// The baseline is the floor, the least Qt Quick program started the way the updater
// starts, loading the updater's own window with QML stand-ins for the objects the
// program publishes: what is left is the program's own cost of showing that window.
// Usage: bench_startup [REPS [--windows WINDOWS_BUILD_DIR] [LABEL=FILE.qml|LABEL=PROGRAM ...]]
// (under an X server). With --windows, the Windows release and the floor built for Windows
// run under Wine, started by bench_winlaunch, which runs for the whole benchmark.
#include "benchcommon.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <map>
#include <memory>
#include <poll.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
struct Program
{
    Program(std::string label, std::string path, std::string title, std::string qml = {})
        : label(std::move(label)), path(std::move(path)), title(std::move(title)),
          qml(std::move(qml))
    {}
    std::string label;
    std::string path;
    std::string title;
    std::string qml;   // for the floor: another QML file to load (ORVIK_FLOOR_QML)
    std::string cache; // XDG_CACHE_HOME (QML disk cache, shader caches); Wine: its QML disk cache
    std::vector<double> frameMs, rssMb, anonMb;
    int failures = 0;
};

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::string windowName(xcb_connection_t *c, xcb_window_t w)
{
    for (const xcb_atom_t property : {atom(c, "_NET_WM_NAME"), xcb_atom_t(XCB_ATOM_WM_NAME)}) {
        xcb_get_property_reply_t *r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        std::string name;
        if (r)
            name.assign(static_cast<const char *>(xcb_get_property_value(r)),
                        xcb_get_property_value_length(r));
        std::free(r);
        if (!name.empty())
            return name;
    }
    return {};
}

// Asks the window to close as a window manager would, so that it ends cleanly.
void requestClose(xcb_connection_t *c, xcb_window_t w)
{
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = w;
    e.type = atom(c, "WM_PROTOCOLS");
    e.data.data32[0] = atom(c, "WM_DELETE_WINDOW");
    e.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, w, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&e));
    xcb_flush(c);
}

// Spawns ARGV with standard input IN (-1: this process's) and output OUT (-1: /dev/null),
// errors to /dev/null. Returns the pid, or 0.
pid_t spawn(const std::vector<std::string> &argv, int in, int out)
{
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : 0;
}

// Waits up to MS for the child PID to end: true, with its STATUS, if it did.
bool waitAtMost(pid_t pid, int ms, int &status)
{
    for (int waited = 0; waited < ms; waited += 10) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return true;
        usleep(10000);
    }
    return false;
}

// How a program is started, how its memory is read and how its end is awaited.
class Runner
{
public:
    Runner(const char *heading, const char *resident, const char *part)
        : heading(heading), resident(resident), part(part)
    {}
    virtual ~Runner() = default;
    // Starts P; returns the time origin, taken just before, or a negative value.
    virtual double start(const Program &p) = 0;
    // The program's resident memory and the part of it named PART, in kB, or -1.
    virtual std::pair<long, long> memoryKb() = 0;
    // Waits up to MS for the end, then kills it: true if it ended by itself with exit code 0.
    virtual bool finish(int ms) = 0;
    const char *const heading, *const resident, *const part;
};

// The programs as the Linux build makes them, spawned from this process.
class NativeRunner : public Runner
{
public:
    // A temporary directory of its own, TMP, keeps the updater's single-instance guard apart
    // from any other instance on this machine.
    explicit NativeRunner(const char *tmp)
        : Runner("## Start-up: process start to first frame, VmRSS after first frame + 2 s idle",
                 "VmRSS", "of which RssAnon")
    {
        setenv("TMPDIR", tmp, 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    double start(const Program &p) override
    {
        if (p.qml.empty())
            unsetenv("ORVIK_FLOOR_QML");
        else
            setenv("ORVIK_FLOOR_QML", p.qml.c_str(), 1);
        setenv("XDG_CACHE_HOME", p.cache.c_str(), 1);
        const double t0 = bench::nowMs();
        pid = spawn({p.path}, -1, -1);
        return pid ? t0 : -1;
    }
    std::pair<long, long> memoryKb() override
    {
        return {bench::statusKb(std::to_string(pid), "VmRSS"),
                bench::statusKb(std::to_string(pid), "RssAnon")};
    }
    bool finish(int ms) override
    {
        int status = 0;
        if (waitAtMost(pid, ms, status))
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return false;
    }

private:
    pid_t pid = 0;
};

// Wine maps / to drive Z:.
std::string windowsPath(const std::string &path)
{
    std::string w = "Z:" + std::filesystem::absolute(path).lexically_normal().string();
    std::replace(w.begin(), w.end(), '/', '\\');
    return w;
}

// Windows programs under Wine, started by bench_winlaunch (scripts/wine-run.sh, a prefix of
// the benchmark's own), which stays for the whole run: Wine's own start-up and the
// wineserver are behind every program alike, and the time origin is the start command.
class WineRunner : public Runner
{
public:
    WineRunner(const std::string &launcher, const std::string &prefix)
        : Runner("## Start-up under Wine: start command to first frame, WorkingSetSize after "
                 "first frame + 2 s idle",
                 "WorkingSetSize", "PagefileUsage")
    {
        setenv("WINEPREFIX", prefix.c_str(), 1);
        int down[2], up[2];
        if (pipe2(down, O_CLOEXEC) != 0 || pipe2(up, O_CLOEXEC) != 0)
            return;
        pid = spawn({ORVIK_WINE_RUN, launcher}, down[0], up[1]);
        close(down[0]);
        close(up[1]);
        commands = down[1];
        answers = up[0];
        // Making the prefix, at its first use, takes about 20 s.
        ready = pid && answer(120000) == "ready";
    }
    ~WineRunner() override
    {
        close(commands); // bench_winlaunch ends at the end of its input
        if (pid)
            waitpid(pid, nullptr, 0);
        close(answers);
        // Nothing of Wine's outlives the benchmark and its X server: the wineserver ends once
        // its processes have, else it is made to.
        const pid_t server = spawn({"wineserver", "-w"}, -1, -1);
        int status = 0;
        if (server && waitAtMost(server, 15000, status))
            return;
        if (const pid_t killer = spawn({"wineserver", "-k"}, -1, -1))
            waitpid(killer, nullptr, 0);
        if (server)
            waitpid(server, nullptr, 0);
    }
    double start(const Program &p) override
    {
        const std::string command = "start\t" + windowsPath(p.path) + "\tORVIK_FLOOR_QML=" +
                                    (p.qml.empty() ? "" : windowsPath(p.qml)) +
                                    "\tQML_DISK_CACHE_PATH=" + windowsPath(p.cache + "/qmlcache");
        // The answer comes within 5-25 ms, long before the program has a window.
        const double t0 = bench::nowMs();
        return send(command) && answer(10000).rfind("started ", 0) == 0 ? t0 : -1;
    }
    std::pair<long, long> memoryKb() override
    {
        long long workingSet = -1, pagefile = -1;
        if (send("memory"))
            std::sscanf(answer(10000).c_str(), "memory %lld %lld", &workingSet, &pagefile);
        return {workingSet < 0 ? -1 : long(workingSet / 1024),
                pagefile < 0 ? -1 : long(pagefile / 1024)};
    }
    bool finish(int ms) override
    {
        return send("wait\t" + std::to_string(ms)) && answer(ms + 10000) == "exited 0";
    }
    bool ready = false;

private:
    bool send(const std::string &command)
    {
        const std::string line = command + "\n";
        return write(commands, line.data(), line.size()) == ssize_t(line.size());
    }
    // The next line from bench_winlaunch, or an empty string after MS.
    std::string answer(int ms)
    {
        const double until = bench::nowMs() + ms;
        size_t end;
        while ((end = pending.find('\n')) == std::string::npos) {
            pollfd fd{answers, POLLIN, 0};
            char buffer[256];
            const ssize_t n = poll(&fd, 1, std::max(0, int(until - bench::nowMs()))) > 0
                                  ? read(answers, buffer, sizeof buffer)
                                  : 0;
            if (n <= 0)
                return {};
            pending.append(buffer, size_t(n));
        }
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        return line;
    }
    pid_t pid = 0;
    int commands = -1, answers = -1;
    std::string pending;
};

// Follows the children of the new top-level window W: their mapping is reported from now
// on, and MAPPED is told of those mapped already.
void followChildren(xcb_connection_t *c, xcb_window_t w,
                    const std::function<void(xcb_window_t child, xcb_window_t top)> &mapped)
{
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, w, XCB_CW_EVENT_MASK, &mask);
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
    if (!tree)
        return;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        xcb_get_window_attributes_reply_t *a =
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr);
        if (a && a->map_state != XCB_MAP_STATE_UNMAPPED)
            mapped(children[i], w);
        std::free(a);
    }
    std::free(tree);
}

void runOnce(xcb_connection_t *c, uint8_t damageEvent, Runner &runner, Program &p, bool record)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // round trip
    // What is left of the previous program's end: window ids come again with a new client.
    while (xcb_generic_event_t *e = xcb_poll_for_event(c))
        std::free(e);

    const double t0 = runner.start(p);
    if (t0 < 0) {
        ++p.failures;
        return;
    }
    std::map<xcb_window_t, xcb_damage_damage_t> damages;
    std::map<xcb_window_t, xcb_window_t> topLevelOf; // of the mapped children of top-levels
    std::set<xcb_window_t> mapped;
    const auto watch = [&](xcb_window_t w) {
        if (damages.count(w))
            return;
        const xcb_damage_damage_t d = xcb_generate_id(c);
        xcb_damage_create(c, d, w, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        damages[w] = d;
    };
    std::set<xcb_window_t> setUp; // children whose empty buffer has been put on them
    // A child is watched once mapped; its MapNotify names the top-level.
    const auto mappedChild = [&](xcb_window_t w, xcb_window_t top) {
        mapped.insert(w);
        topLevelOf[w] = top;
        watch(w);
    };
    xcb_window_t target = XCB_NONE;
    double frame = -1;
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    while (frame < 0 && bench::nowMs() - t0 < 60000) {
        poll(&fd, 1, 100);
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            const uint8_t type = e->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                auto *ce = reinterpret_cast<xcb_create_notify_event_t *>(e);
                if (ce->parent == root) {
                    watch(ce->window);
                    followChildren(c, ce->window, mappedChild);
                    xcb_flush(c);
                }
            } else if (type == XCB_MAP_NOTIFY) {
                auto *me = reinterpret_cast<xcb_map_notify_event_t *>(e);
                if (me->event == root) {
                    mapped.insert(me->window);
                } else {
                    mappedChild(me->window, me->event);
                    xcb_flush(c);
                }
            } else if (type == damageEvent + XCB_DAMAGE_NOTIFY && frame < 0) {
                const double t = bench::nowMs();
                const xcb_window_t w = reinterpret_cast<xcb_damage_notify_event_t *>(e)->drawable;
                const auto parent = topLevelOf.find(w);
                const xcb_window_t top = parent == topLevelOf.end() ? w : parent->second;
                const bool emptyBuffer = top != w && setUp.insert(w).second;
                if (!emptyBuffer && mapped.count(w) && mapped.count(top) &&
                    windowName(c, top) == p.title) {
                    frame = t - t0;
                    target = top;
                }
            }
            std::free(e); // errors (e.g. Damage on an InputOnly window) are of no interest
        }
    }
    std::pair<long, long> memory{-1, -1};
    if (frame >= 0) {
        usleep(2000 * 1000);
        memory = runner.memoryKb();
        requestClose(c, target);
    }
    const bool ended = runner.finish(15000);
    for (const auto &entry : damages)
        xcb_damage_destroy(c, entry.second);
    xcb_flush(c);
    if (frame < 0 || memory.first < 0 || !ended) {
        ++p.failures;
    } else if (record) {
        p.frameMs.push_back(frame);
        p.rssMb.push_back(memory.first / 1024.0);
        p.anonMb.push_back(memory.second / 1024.0);
    }
}
std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char *const updaterTitle = "Orvik Firmware Updater";

// QML stand-ins for the objects the updater publishes to its window, so that the floor
// can load the window itself: the same members, doing nothing.
const char *const standIns = R"(
    QtObject {
        id: _App
        property int status: 0
        property string selectedFirmwareFile: ""
        property string statusInfo: ""
        property bool restarting: false
        function startUpdate() {}
        function setSelectedFirmwareFile(file) {}
    }
    QtObject {
        id: _LocalFilePath
        function fromUrl(url) { return "" }
        function fromDrop(urls) { return "" }
        function folderOf(path) { return "" }
    }
    QtObject {
        id: _Presence
        // The status line the updater shows soon after its first frame with no Orvik there.
        property string text: ""
        property Timer shown: Timer {
            interval: 50
            running: true
            onTriggered: _Presence.text = "No Orvik connected"
        }
        function stop() {}
    }
    QtObject {
        id: _Access
        property bool asking: false
        property bool working: false
        property bool done: false
        property string text: ""
        property string title: ""
        property string action: ""
        property string actionDescription: ""
        function setUp() {}
        function dismiss() {}
    }
)";

// The objects the updater publishes that a window names ("_App", ...) but the stand-ins do
// not give: a window that loads without them measures something else than the updater's.
std::vector<std::string> missingStandIns(const std::string &window)
{
    std::vector<std::string> missing;
    static const std::regex published("\\b_[A-Z][A-Za-z]*\\b");
    const std::string given = standIns;
    for (auto it = std::sregex_iterator(window.begin(), window.end(), published);
         it != std::sregex_iterator(); ++it) {
        const std::string name = it->str();
        if (given.find("id: " + name + "\n") == std::string::npos &&
            std::find(missing.begin(), missing.end(), name) == missing.end())
            missing.push_back(name);
    }
    return missing;
}

// A window of the updater's as the floor loads it: with the stand-ins unless the file has
// its own. Empty when the file has no root object to hold them.
std::string withStandIns(std::string window)
{
    const size_t end = window.rfind('}');
    if (end == std::string::npos)
        return {};
    if (window.find("id: _App") == std::string::npos)
        window.insert(end, standIns);
    return window;
}

// Copies the updater's QML files into DIR, main.qml with the stand-ins, so that the
// floor finds the components main.qml refers to beside it, as in the program's resources.
// Returns the path of the window, or an empty string if the files are not as expected.
std::string standInWindow(const std::string &dir, bool windows)
{
    namespace fs = std::filesystem;
    const fs::path source = fs::path(ORVIK_MAIN_QML).parent_path();
    fs::create_directories(dir);
    for (const fs::directory_entry &entry : fs::directory_iterator(source)) {
        if (entry.path().extension() == ".qml")
            fs::copy_file(entry.path(), fs::path(dir) / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
    }
    // The file dialog as the program's build compiles it in; Windows builds have Qt 5.
    fs::copy_file(source / (windows ? "qt5" : ORVIK_QT_QML) / "FirmwareFileDialog.qml",
                  fs::path(dir) / "FirmwareFileDialog.qml", fs::copy_options::overwrite_existing);
    const std::string window = readFile(ORVIK_MAIN_QML);
    const std::string standIn = withStandIns(window);
    if (window.find(updaterTitle) == std::string::npos || standIn.empty())
        return {};
    bool complete = true;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
        for (const std::string &name : missingStandIns(readFile(entry.path().string()))) {
            std::fprintf(stderr, "%s names %s, for which the benchmark has no stand-in\n",
                         entry.path().filename().c_str(), name.c_str());
            complete = false;
        }
    }
    if (!complete)
        return {};
    const std::string path = dir + "/main.qml";
    std::ofstream(path) << standIn;
    return path;
}
} // namespace

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    const int reps = argc > 1 ? std::atoi(argv[1]) : 10;
    const bool windows = argc > 3 && std::strcmp(argv[2], "--windows") == 0;
    const std::string windowsBuild = windows ? fs::absolute(argv[3]).string() : std::string();
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "no X server (run under xvfb-run)\n");
        return 2;
    }
    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_damage_id);
    if (!ext || !ext->present) {
        std::fprintf(stderr, "the X server has no Damage extension\n");
        return 2;
    }
    std::free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    char tmp[] = "/tmp/orvik-bench-XXXXXX";
    if (!mkdtemp(tmp))
        return 2;

    std::string floor = FLOOR_PATH, updater = ORVIK_UPDATER_PATH;
    std::unique_ptr<Runner> runner;
    if (windows) {
        // The floor runs from a copy of the release folder, so that it finds the same DLLs,
        // plugins, QML modules and qt.conf as the updater.
        const std::string release = windowsBuild + "/OrvikUpdater",
                          copy = std::string(tmp) + "/release";
        const std::string floorExe = windowsBuild + "/bench/orvik-bench-floor.exe";
        const std::string launcher = windowsBuild + "/bench/bench_winlaunch.exe";
        updater = release + "/orvik-updater.exe";
        floor = copy + "/orvik-bench-floor.exe";
        std::error_code error;
        fs::copy(release, copy, fs::copy_options::recursive, error);
        if (!error)
            fs::copy_file(floorExe, floor, error);
        std::unique_ptr<WineRunner> wine;
        if (!error && fs::exists(updater) && fs::exists(launcher))
            wine = std::make_unique<WineRunner>(
                launcher, fs::path(FLOOR_PATH).parent_path().parent_path() / "bench-wine-prefix");
        if (!wine || !wine->ready) {
            std::fprintf(stderr,
                         "%s needs OrvikUpdater/, bench/orvik-bench-floor.exe and "
                         "bench/bench_winlaunch.exe, and Wine\n",
                         windowsBuild.c_str());
            wine.reset();
            fs::remove_all(tmp);
            return 2;
        }
        runner = std::move(wine);
    } else {
        runner = std::make_unique<NativeRunner>(tmp);
    }

    // The baseline is the floor showing the updater's own window; the empty window is
    // there to tell what the window costs the floor.
    const std::string windowDir = std::string(tmp) + "/window";
    const std::string window = standInWindow(windowDir, windows);
    if (window.empty()) {
        std::fprintf(stderr, "%s is not the window expected here\n", ORVIK_MAIN_QML);
        return 2;
    }
    std::vector<Program> programs{
        {"floor + the updater's window, stand-ins (baseline)", floor, updaterTitle, window},
        {"orvik-updater", updater, updaterTitle},
        {"floor, empty window", floor, "Orvik Bench Floor"}};
    // Further arguments, to try out a change: LABEL=FILE.qml, the floor loading that file,
    // written beside the updater's QML files with the same stand-ins; LABEL=PROGRAM, another
    // build of the updater.
    for (int i = windows ? 4 : 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string label = arg.substr(0, eq), path = arg.substr(eq + 1);
        if (fs::path(path).extension() != ".qml") {
            programs.push_back({label, path, updaterTitle});
            continue;
        }
        const std::string text = readFile(path);
        const std::string file = windowDir + "/variant" + std::to_string(i) + ".qml";
        std::ofstream(file) << withStandIns(text);
        const bool titled = text.find(updaterTitle) != std::string::npos;
        programs.push_back({label, floor, titled ? updaterTitle : "Orvik Bench Floor", file});
    }
    std::fprintf(bench::report(), "%s\n", runner->heading);
    bench::printLoad("start");
    // A cache folder for each program, filled by its first start: builds of the updater share
    // the names of their QML disk cache files, so that each would find the other's stale and
    // compile its QML again, and so would any other run of the updater on this machine.
    for (size_t k = 0; k < programs.size(); ++k)
        programs[k].cache = std::string(tmp) + "/cache" + std::to_string(k);
    for (Program &p : programs)
        runOnce(c, ext->first_event, *runner, p, false); // warms the caches; not counted
    for (int i = 0; i < reps; ++i) {
        // Alternating order, so that a change in load falls on both alike.
        for (size_t k = 0; k < programs.size(); ++k)
            runOnce(c, ext->first_event, *runner, programs[(k + i) % programs.size()], true);
    }
    FILE *out = bench::report();
    std::fprintf(out,
                 "\n| program | runs | first frame min (ms) | median (ms) | max (ms) | x baseline "
                 "(min / median) | %s min (MiB) | median (MiB) | x baseline (min / median) "
                 "| %s (MiB, median) |\n"
                 "|---|---|---|---|---|---|---|---|---|---|\n",
                 runner->resident, runner->part);
    const bench::Stats f0 = bench::stats(programs[0].frameMs), m0 = bench::stats(programs[0].rssMb);
    int failures = 0;
    for (const Program &p : programs) {
        const bench::Stats f = bench::stats(p.frameMs), m = bench::stats(p.rssMb);
        std::fprintf(out,
                     "| %s | %zu (%d failed) | %.1f | %.1f | %.1f | %.2fx / %.2fx | %.1f | %.1f | "
                     "%.2fx / %.2fx | %.1f |\n",
                     p.label.c_str(), p.frameMs.size(), p.failures, f.min, f.median, f.max,
                     f.min / f0.min, f.median / f0.median, m.min, m.median, m.min / m0.min,
                     m.median / m0.median, bench::stats(p.anonMb).median);
        failures += p.failures;
    }
    std::fprintf(bench::report(), "\n");
    bench::printLoad("end");
    runner.reset();
    xcb_disconnect(c);
    fs::remove_all(tmp);
    return failures ? 1 : 0;
}
