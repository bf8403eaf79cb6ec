#include "cDesktop.h"

#include "cChildProcess.h"
#include "cPoll.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

struct cDesktop::cPrivate
{
    cChildProcess xvfb;
    QString display;
    QTemporaryDir files;

    // The X tools and the OCR run outside the fake device tree meant for the programs, one
    // thread each: they compete with the program for two cores.
    QProcessEnvironment helperEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("LD_PRELOAD"));
        environment.remove(QStringLiteral("UMOCKDEV_DIR"));
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("OMP_THREAD_LIMIT"), QStringLiteral("1"));
        return environment;
    }

    QString xdotool(const QStringList &arguments, bool *ok = nullptr) const
    {
        QString output;
        const bool ran = run(QStringLiteral("xdotool"), arguments, &output);
        if (ok)
            *ok = ran;
        return output;
    }

    bool run(const QString &program, const QStringList &arguments, QString *output) const
    {
        cChildProcess helper;
        helper.setProcessEnvironment(helperEnvironment());
        helper.start(program, arguments);
        if (!helper.waitForFinished(kWaitMs)) {
            helper.kill();
            helper.waitForFinished();
            return false;
        }
        if (output)
            *output = QString::fromLocal8Bit(helper.readAllStandardOutput()).trimmed();
        return helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0;
    }

    QStringList search(const QString &title, qint64 pid) const
    {
        QStringList arguments{QStringLiteral("search"), QStringLiteral("--onlyvisible")};
        if (pid)
            arguments << "--all"
                      << "--pid" << QString::number(pid);
        if (!title.isEmpty())
            arguments << "--name" << '^' + QRegularExpression::escape(title) + '$';
        return xdotool(arguments).split('\n', Qt::SkipEmptyParts);
    }
};

cDesktop::cDesktop() : d(new cPrivate)
{
    const struct
    {
        const char *program;
        const char *package;
    } tools[] = {{"Xvfb", "xvfb"}, {"xdotool", "xdotool"}, {"import", "imagemagick"}};
    for (const auto &tool : tools) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool.program)).isEmpty()) {
            m_problem = QStringLiteral("%1 is not installed (package %2)")
                            .arg(QLatin1String(tool.program), QLatin1String(tool.package));
            return;
        }
    }
    // The server picks a free display and writes its number on the given descriptor. It
    // would reset whenever its last client leaves, and refuse the next one meanwhile.
    d->xvfb.setProcessEnvironment(d->helperEnvironment());
    d->xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24",
                                           "-nolisten", "tcp", "-noreset"});
    const bool started =
        d->xvfb.waitForStarted(kWaitMs) &&
        cPoll::until(
            [this] { return d->xvfb.canReadLine() || d->xvfb.state() != QProcess::Running; },
            kWaitMs);
    const QByteArray number = started ? d->xvfb.readLine().trimmed() : QByteArray();
    if (number.isEmpty()) {
        m_problem = QStringLiteral("Xvfb did not start: ") +
                    QString::fromLocal8Bit(d->xvfb.readAllStandardError());
        return;
    }
    d->display = QString::fromLatin1(':' + number);
}

cDesktop::~cDesktop()
{
    if (d->xvfb.state() == QProcess::NotRunning)
        return;
    d->xvfb.terminate();
    if (!d->xvfb.waitForFinished(kWaitMs)) {
        d->xvfb.kill();
        d->xvfb.waitForFinished();
    }
}

QProcessEnvironment cDesktop::environment(QProcessEnvironment base) const
{
    base.insert(QStringLiteral("DISPLAY"), d->display);
    base.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return base;
}

QString cDesktop::waitForWindow(const QString &title, qint64 pid, int ms) const
{
    // A window that goes away while xdotool looks at it makes the search fail: look again.
    QStringList windows;
    cPoll::until(
        [&] {
            windows = d->search(title, pid);
            return !windows.isEmpty();
        },
        ms);
    return windows.value(0);
}

bool cDesktop::isShown(const QString &title) const
{
    return !d->search(title, 0).isEmpty();
}

QSize cDesktop::size(const QString &window) const
{
    const QString geometry = d->xdotool({"getwindowgeometry", "--shell", window});
    const auto value = [&geometry](const char *name) {
        return geometry.section(QLatin1String(name), 1).section('\n', 0, 0).toInt();
    };
    return QSize(value("WIDTH="), value("HEIGHT="));
}

QImage cDesktop::grab(const QString &window, const QString &png) const
{
    const QString file = png.isEmpty() ? d->files.filePath(QStringLiteral("grab.png")) : png;
    QFile::remove(file);
    if (!d->run(QStringLiteral("import"), {"-window", window, "png:" + file}, nullptr))
        return QImage();
    return QImage(file).convertToFormat(QImage::Format_RGB32);
}

bool cDesktop::focus(const QString &window) const
{
    bool ok = false;
    d->xdotool({"windowfocus", "--sync", window}, &ok);
    return ok && cPoll::until([&] { return hasFocus(window); }, kWaitMs);
}

bool cDesktop::hasFocus(const QString &window) const
{
    return d->xdotool({"getwindowfocus"}) == window;
}

bool cDesktop::key(const QString &keys) const
{
    bool ok = false;
    d->xdotool({"key", keys}, &ok);
    return ok;
}

bool cDesktop::type(const QString &text) const
{
    bool ok = false;
    d->xdotool({"type", "--delay", "20", text}, &ok);
    return ok;
}

bool cDesktop::click(const QString &window, const QPoint &at) const
{
    bool ok = false;
    d->xdotool({"mousemove", "--window", window, QString::number(at.x()), QString::number(at.y()),
                "click", "1"},
               &ok);
    return ok;
}

bool cDesktop::requestClose(const QString &window) const
{
    const QByteArray name = d->display.toLocal8Bit();
    xcb_connection_t *connection = xcb_connect(name.constData(), nullptr);
    auto atom = [connection](const char *atomName) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::strlen(atomName), atomName), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    };
    bool sent = false;
    if (!xcb_connection_has_error(connection)) {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window.toUInt();
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_generic_error_t *error = xcb_request_check(
            connection, xcb_send_event_checked(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                                               reinterpret_cast<const char *>(&event)));
        sent = !error && event.type != XCB_ATOM_NONE;
        std::free(error);
    }
    xcb_disconnect(connection);
    return sent;
}

bool cDesktop::runHelper(const QString &program, const QStringList &arguments,
                         QString *output) const
{
    return d->run(program, arguments, output);
}
