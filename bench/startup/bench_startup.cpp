// Start-up time and idle memory of a Qt Quick program under an X server.
// The first frame is the first Damage event on the program's mapped top-level
// window named TITLE: the watcher asks for SubstructureNotify on the root
// before the program is spawned and attaches a Damage object to every
// top-level window when it is created, before it can be drawn. Qt creates its
// windows with no background, so mapping alone reports no damage; the first
// report is the first frame put on the window (glXSwapBuffers / PutImage).
// Each program is spawned the same way, from this process, with output discarded;
// the floor is an empty Qt Quick window of the updater's size, and the floor
// loading parts of the updater's window tells what each part costs.
// Usage: bench_startup [REPS [LABEL=FILE.qml ...]]   (under an X server)
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
    std::string qml; // for the floor: another QML file to load (ORVIK_FLOOR_QML)
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

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The updater's window taken apart, each part loaded by the floor under the floor's
// title, to tell what each part costs: the whole window with stand-ins for the
// objects the program publishes, the window without its file dialog, and the file
// dialog alone in the floor's window. Made from the window's source at each run;
// empty when its shape is no longer the one expected here.
std::vector<std::pair<std::string, std::string>> windowParts(const std::string &window,
                                                             const std::string &floor)
{
    const std::string title = "title: qsTr(\"Orvik Firmware Updater\")";
    const std::string import = "import QtQuick.Dialogs 1.3\n";
    const size_t dialog = window.find("\n    FileDialog {");
    const size_t dialogEnd = window.find("\n    }", dialog + 1);
    if (window.find(title) == std::string::npos || window.find(import) == std::string::npos ||
        dialog == std::string::npos || dialogEnd == std::string::npos ||
        floor.find("import QtQuick.Window 2.12\n") == std::string::npos)
        return {};
    const std::string dialogBlock = window.substr(dialog, dialogEnd + 6 - dialog);
    std::string whole = replaced(window, title, "title: \"Orvik Bench Floor\"");
    whole.insert(whole.rfind('}'),
                 "\n    QtObject {\n        id: _App\n        property int status: 0\n"
                 "        property string selectedFirmwareFile: \"\"\n"
                 "        property string statusInfo: \"\"\n        function startUpdate() {}\n"
                 "        function setSelectedFirmwareFile(file) {}\n    }\n"
                 "    QtObject {\n        id: _LocalFilePath\n"
                 "        function fromUrl(url) { return \"\" }\n    }\n");
    const std::string content = replaced(replaced(whole, dialogBlock, ""), import, "");
    std::string dialogOnly =
        replaced(floor, "import QtQuick.Window 2.12\n", "import QtQuick.Window 2.12\n" + import);
    dialogOnly.insert(dialogOnly.rfind('}'), dialogBlock.substr(1) + "\n");
    return {{"floor + window without file dialog", content},
            {"floor + file dialog alone", dialogOnly},
            {"floor + whole window, stand-in _App", whole}};
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

    std::vector<Program> programs{{"floor", FLOOR_PATH, "Orvik Bench Floor"},
                                  {"orvik-updater", ORVIK_UPDATER_PATH, "Orvik Firmware Updater"}};
    for (const auto &part : windowParts(readFile(ORVIK_MAIN_QML), readFile(FLOOR_QML))) {
        const std::string file =
            std::string(tmp) + "/part" + std::to_string(programs.size()) + ".qml";
        std::ofstream(file) << part.second;
        programs.push_back({part.first, FLOOR_PATH, "Orvik Bench Floor", file});
    }
    // Further arguments LABEL=FILE.qml: the floor loading that file, titled "Orvik Bench Floor".
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        if (eq != std::string::npos)
            programs.push_back(
                {arg.substr(0, eq), FLOOR_PATH, "Orvik Bench Floor", arg.substr(eq + 1)});
    }
    std::fprintf(bench::report(),
                 "## Start-up: process start to first frame, VmRSS after first frame + 2 s idle\n");
    bench::printLoad("start");
    for (Program &p : programs)
        runOnce(c, ext->first_event, p, false); // warms the page cache; not counted
    for (int i = 0; i < reps; ++i) {
        // Alternating order, so that a change in load falls on both alike.
        for (size_t k = 0; k < programs.size(); ++k)
            runOnce(c, ext->first_event, programs[(k + i) % programs.size()], true);
    }
    FILE *out = bench::report();
    std::fprintf(out,
                 "\n| program | runs | first frame min (ms) | median (ms) | max (ms) | x floor "
                 "(min / median) | VmRSS min (MiB) | median (MiB) | x floor (min / median) "
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
