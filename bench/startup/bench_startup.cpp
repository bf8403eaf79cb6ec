// Start-up time and idle memory of a Qt Quick program under an X server.
// The first frame is the first Damage event on the program's mapped top-level
// window named TITLE: the watcher asks for SubstructureNotify on the root
// before the program is spawned and attaches a Damage object to every
// top-level window when it is created, before it can be drawn. Qt creates its
// windows with no background, so mapping alone reports no damage; the first
// report is the first frame put on the window (glXSwapBuffers / PutImage).
// Each program is spawned the same way, from this process, with output discarded.
// The baseline is the floor, the least Qt Quick program started the way the updater
// starts, loading the updater's own window with QML stand-ins for the objects the
// program publishes: what is left is the program's own cost of showing that window.
// Usage: bench_startup [REPS [LABEL=FILE.qml|LABEL=PROGRAM ...]]   (under an X server)
#include "benchcommon.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <cstdlib>
#include <map>
#include <poll.h>
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
    std::string cache; // XDG_CACHE_HOME: the QML disk cache, the shader caches
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

bool waitExit(pid_t pid, int ms)
{
    for (int waited = 0; waited < ms; waited += 10) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        usleep(10000);
    }
    return false;
}

void runOnce(xcb_connection_t *c, uint8_t damageEvent, Program &p, bool record)
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); // round trip

    char *argv[] = {const_cast<char *>(p.path.c_str()), nullptr};
    if (p.qml.empty())
        unsetenv("ORVIK_FLOOR_QML");
    else
        setenv("ORVIK_FLOOR_QML", p.qml.c_str(), 1);
    setenv("XDG_CACHE_HOME", p.cache.c_str(), 1);
    const double t0 = bench::nowMs();
    pid_t pid = 0;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, p.path.c_str(), &quiet, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        ++p.failures;
        return;
    }
    std::map<xcb_window_t, xcb_damage_damage_t> damages;
    std::set<xcb_window_t> mapped;
    xcb_window_t target = XCB_NONE;
    double frame = -1;
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    while (frame < 0 && bench::nowMs() - t0 < 60000) {
        poll(&fd, 1, 100);
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            const uint8_t type = e->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                auto *ce = reinterpret_cast<xcb_create_notify_event_t *>(e);
                const xcb_damage_damage_t d = xcb_generate_id(c);
                xcb_damage_create(c, d, ce->window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
                damages[ce->window] = d;
                xcb_flush(c);
            } else if (type == XCB_MAP_NOTIFY) {
                mapped.insert(reinterpret_cast<xcb_map_notify_event_t *>(e)->window);
            } else if (type == damageEvent + XCB_DAMAGE_NOTIFY && frame < 0) {
                const double t = bench::nowMs();
                const xcb_window_t w = reinterpret_cast<xcb_damage_notify_event_t *>(e)->drawable;
                if (mapped.count(w) && windowName(c, w) == p.title) {
                    frame = t - t0;
                    target = w;
                }
            }
            std::free(e); // errors (e.g. Damage on an InputOnly window) are of no interest
        }
    }
    long rssKb = -1, anonKb = -1;
    if (frame >= 0) {
        usleep(2000 * 1000);
        rssKb = bench::statusKb(std::to_string(pid), "VmRSS");
        anonKb = bench::statusKb(std::to_string(pid), "RssAnon");
        requestClose(c, target);
    }
    if (!waitExit(pid, 15000)) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (const auto &entry : damages)
        xcb_damage_destroy(c, entry.second);
    xcb_flush(c);
    if (frame < 0 || rssKb < 0) {
        ++p.failures;
    } else if (record) {
        p.frameMs.push_back(frame);
        p.rssMb.push_back(rssKb / 1024.0);
        p.anonMb.push_back(anonKb / 1024.0);
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
)";

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
std::string standInWindow(const std::string &dir)
{
    namespace fs = std::filesystem;
    const fs::path source = fs::path(ORVIK_MAIN_QML).parent_path();
    fs::create_directories(dir);
    for (const fs::directory_entry &entry : fs::directory_iterator(source)) {
        if (entry.path().extension() == ".qml")
            fs::copy_file(entry.path(), fs::path(dir) / entry.path().filename(),
                          fs::copy_options::overwrite_existing);
    }
    // The file dialog as the Qt 5 build compiles it in.
    fs::copy_file(source / "qt5" / "FirmwareFileDialog.qml",
                  fs::path(dir) / "FirmwareFileDialog.qml", fs::copy_options::overwrite_existing);
    const std::string window = readFile(ORVIK_MAIN_QML);
    const std::string standIn = withStandIns(window);
    if (window.find(updaterTitle) == std::string::npos || standIn.empty())
        return {};
    const std::string path = dir + "/main.qml";
    std::ofstream(path) << standIn;
    return path;
}
} // namespace

int main(int argc, char **argv)
{
    const int reps = argc > 1 ? std::atoi(argv[1]) : 10;
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
    // A temporary directory of its own keeps the updater's single-instance guard apart
    // from any other instance on this machine.
    char tmp[] = "/tmp/orvik-bench-XXXXXX";
    if (!mkdtemp(tmp))
        return 2;
    setenv("TMPDIR", tmp, 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);

    // The baseline is the floor showing the updater's own window; the empty window is
    // there to tell what the window costs the floor.
    const std::string windowDir = std::string(tmp) + "/window";
    const std::string window = standInWindow(windowDir);
    if (window.empty()) {
        std::fprintf(stderr, "%s is not the window expected here\n", ORVIK_MAIN_QML);
        return 2;
    }
    std::vector<Program> programs{
        {"floor + the updater's window, stand-ins (baseline)", FLOOR_PATH, updaterTitle, window},
        {"orvik-updater", ORVIK_UPDATER_PATH, updaterTitle},
        {"floor, empty window", FLOOR_PATH, "Orvik Bench Floor"}};
    // Further arguments, to try out a change: LABEL=FILE.qml, the floor loading that file,
    // written beside the updater's QML files with the same stand-ins; LABEL=PROGRAM, another
    // build of the updater.
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string label = arg.substr(0, eq), path = arg.substr(eq + 1);
        if (std::filesystem::path(path).extension() != ".qml") {
            programs.push_back({label, path, updaterTitle});
            continue;
        }
        const std::string text = readFile(path);
        const std::string file = windowDir + "/variant" + std::to_string(i) + ".qml";
        std::ofstream(file) << withStandIns(text);
        const bool titled = text.find(updaterTitle) != std::string::npos;
        programs.push_back({label, FLOOR_PATH, titled ? updaterTitle : "Orvik Bench Floor", file});
    }
    std::fprintf(bench::report(),
                 "## Start-up: process start to first frame, VmRSS after first frame + 2 s idle\n");
    bench::printLoad("start");
    // A cache folder for each program, filled by its first start: builds of the updater share
    // the names of their QML disk cache files, so that each would find the other's stale and
    // compile its QML again, and so would any other run of the updater on this machine.
    for (size_t k = 0; k < programs.size(); ++k)
        programs[k].cache = std::string(tmp) + "/cache" + std::to_string(k);
    for (Program &p : programs)
        runOnce(c, ext->first_event, p, false); // warms the caches; not counted
    for (int i = 0; i < reps; ++i) {
        // Alternating order, so that a change in load falls on both alike.
        for (size_t k = 0; k < programs.size(); ++k)
            runOnce(c, ext->first_event, programs[(k + i) % programs.size()], true);
    }
    FILE *out = bench::report();
    std::fprintf(out,
                 "\n| program | runs | first frame min (ms) | median (ms) | max (ms) | x baseline "
                 "(min / median) | VmRSS min (MiB) | median (MiB) | x baseline (min / median) "
                 "| of which RssAnon (MiB, median) |\n"
                 "|---|---|---|---|---|---|---|---|---|---|\n");
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
    xcb_disconnect(c);
    std::filesystem::remove_all(tmp);
    return failures ? 1 : 0;
}
