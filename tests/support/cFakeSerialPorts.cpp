#include "cFakeSerialPorts.h"

#include <QDeadlineTimer>
#include <QDir>

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>

namespace {
QBasicMutex requestedMutex;
QVector<termios> requested;
} // namespace

void forgetRequestedSettings()
{
    QMutexLocker lock(&requestedMutex);
    requested.clear();
}

// A pty keeps neither data bits nor parity (the kernel forces CS8, no parity), so
// what QSerialPort asks for is recorded on its way to libc.
extern "C" int tcsetattr(int fd, int action, const termios *tio) noexcept
{
    using Real = int (*)(int, int, const termios *);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsetattr"));
    {
        QMutexLocker lock(&requestedMutex);
        requested << *tio;
    }
    return real(fd, action, tio);
}

// Minors from 200 keep the host's udev data out; the pid keeps /var/lock names apart.
int cFakeSerialPorts::s_nextMinor = 200;

cFakeSerialPorts::cFakeSerialPorts(const QVector<PortEntry> &entries)
    : m_testbed(umockdev_testbed_new())
{
    // An empty class/tty stops Qt from scanning the host's /dev.
    gchar *sysDir = umockdev_testbed_get_sys_dir(m_testbed);
    QDir(QString::fromUtf8(sysDir)).mkpath(QStringLiteral("class/tty"));
    g_free(sysDir);
    for (const PortEntry &entry : entries)
        add(entry);
}

int cFakeSerialPorts::add(const PortEntry &entry)
{
    const int index = int(m_ports.size());
    const int minor = s_nextMinor++;
    auto fake = std::make_unique<Port>();
    fake->name = QStringLiteral("ttyACM%1_%2").arg(::getpid()).arg(minor);
    const QString usbDevice = QStringLiteral("/sys/devices/pci0000:00/usb1/1-%1").arg(index + 1);
    const QString usbInterface = usbDevice + QStringLiteral("/1-%1:1.0").arg(index + 1);
    fake->devices =
        QStringList{usbInterface + QStringLiteral("/tty/") + fake->name, usbInterface, usbDevice};
    const QString ids = QStringLiteral("E: ID_VENDOR_ID=%1\nE: ID_MODEL_ID=%2\n")
                            .arg(entry.vendor, 4, 16, QLatin1Char('0'))
                            .arg(entry.product, 4, 16, QLatin1Char('0'));
    const bool node = entry.fault != Fault::NoNode;
    const QString text =
        QStringLiteral(
            "P: /devices/pci0000:00/usb1/1-%1\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n%2\n"
            "P: /devices/pci0000:00/usb1/1-%1/1-%1:1.0\nE: SUBSYSTEM=usb\n"
            "E: DEVTYPE=usb_interface\nE: DRIVER=cdc_acm\n\n"
            "P: /devices/pci0000:00/usb1/1-%1/1-%1:1.0/tty/%3\n%4E: SUBSYSTEM=tty\n"
            "E: DEVNAME=/dev/%3\nE: MAJOR=166\nE: MINOR=%5\n%2E: ID_MODEL=%6\nA: dev=166:%5\n")
            .arg(QString::number(index + 1), ids, fake->name,
                 node ? QStringLiteral("N: %1\n").arg(fake->name) : QString(),
                 QString::number(minor),
                 QString(entry.description).replace(QLatin1Char(' '), QLatin1Char('_')));
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, text.toUtf8().constData(), &error)) {
        qWarning("umockdev: %s", error->message);
        g_error_free(error);
    }
    if (node) {
        const QByteArray path = "/dev/" + fake->name.toUtf8();
        fake->handler = umockdev_ioctl_base_new();
        g_signal_connect(fake->handler, "handle-ioctl", G_CALLBACK(onIoctl), nullptr);
        g_signal_connect(fake->handler, "handle-write", G_CALLBACK(onWrite), fake.get());
        umockdev_testbed_attach_ioctl(m_testbed, path.constData(), fake->handler, nullptr);
        fake->master = umockdev_testbed_get_dev_fd(m_testbed, path.constData());
        // Start far from the wanted line settings, so that they must be applied.
        termios tio{};
        ::tcgetattr(fake->master, &tio);
        ::cfsetspeed(&tio, B9600);
        tio.c_cflag |= CSTOPB | CRTSCTS;
        tio.c_iflag |= IXON | IXOFF;
        ::tcsetattr(fake->master, TCSANOW, &tio);
    }
    m_ports.push_back(std::move(fake));
    if (entry.fault == Fault::Held) {
        m_holders.push_back(std::make_unique<QSerialPort>(m_ports.back()->name));
        if (!m_holders.back()->open(QIODevice::ReadWrite))
            qWarning("could not hold %s", qPrintable(m_ports.back()->name));
    }
    return index;
}

void cFakeSerialPorts::remove(int index)
{
    Port &fake = *m_ports[size_t(index)];
    if (fake.removed)
        return;
    fake.removed = true;
    for (const QString &device : qAsConst(fake.devices))
        umockdev_testbed_remove_device(m_testbed, device.toUtf8().constData());
}

cFakeSerialPorts::~cFakeSerialPorts()
{
    m_holders.clear();
    g_object_unref(m_testbed);
    for (const auto &fake : m_ports) {
        if (fake->handler)
            g_object_unref(fake->handler);
    }
}

// umockdev refuses most ioctls on fake nodes (TIOCEXCL among them): run them on the pty.
gboolean cFakeSerialPorts::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer)
{
    int error = 0;
    const int result = umockdev_ioctl_client_execute(client, &error, nullptr);
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
}

// Runs while the writer waits, so the settings seen are those the bytes went out with.
gboolean cFakeSerialPorts::onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data)
{
    auto *fake = static_cast<Port *>(data);
    QMutexLocker lock(&fake->mutex);
    ++fake->seen.writes;
    ::tcgetattr(fake->master, &fake->seen.line);
    QMutexLocker requestedLock(&requestedMutex);
    fake->seen.asked = requested;
    return FALSE; // the write itself goes on to the pty
}

QStringList cFakeSerialPorts::names() const
{
    QStringList result;
    for (const auto &fake : m_ports)
        result << fake->name;
    return result;
}

QString cFakeSerialPorts::nodeFile(int index) const
{
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    const QString path =
        QString::fromUtf8(root) + QStringLiteral("/dev/") + m_ports[size_t(index)]->name;
    g_free(root);
    return path;
}

WriteSeen cFakeSerialPorts::seen(int index) const
{
    const Port &fake = *m_ports[size_t(index)];
    QMutexLocker lock(&fake.mutex);
    return fake.seen;
}

QByteArray cFakeSerialPorts::received(int index, int expected) const
{
    const int fd = m_ports[size_t(index)]->master;
    QByteArray bytes;
    QDeadlineTimer deadline(30000);
    for (;;) {
        const bool waiting = bytes.size() < expected && !deadline.hasExpired();
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, waiting ? int(deadline.remainingTime()) : 0);
        if (ready > 0 && (pfd.revents & POLLIN)) {
            char buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, int(n));
                continue;
            }
        }
        if (!waiting)
            return bytes;
        // Nobody has the port open yet (the master reports a hang-up): look again soon.
        if (ready > 0)
            ::usleep(5000);
    }
}
