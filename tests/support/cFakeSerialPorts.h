#ifndef CFAKESERIALPORTS_H
#define CFAKESERIALPORTS_H

// Must come before any Qt header: GLib's "public" member clashes with Qt's macros.
#include <umockdev.h>

#include <QMetaType>
#include <QMutex>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <vector>

#include <termios.h>

// Held: another QSerialPort has it open. NoNode: listed, but its node is gone.
enum class Fault
{
    None,
    Held,
    NoNode
};

struct PortEntry
{
    quint16 vendor;
    quint16 product;
    QString description;
    Fault fault;
};
Q_DECLARE_METATYPE(PortEntry)

// What a fake port saw while the update mode command was being written.
struct WriteSeen
{
    int writes = 0;
    termios line{};         // the settings as the pty holds them
    QVector<termios> asked; // every tcsetattr() since forgetRequestedSettings()
};

// Line settings requests are recorded from here on (see tcsetattr in the source).
void forgetRequestedSettings();

// One umockdev testbed with USB serial ports, listed in the given order.
class cFakeSerialPorts
{
public:
    explicit cFakeSerialPorts(const QVector<PortEntry> &entries);
    ~cFakeSerialPorts();

    // Lists one more port, after the others, as a device that comes onto the bus; returns its
    // index. Its name is new: a tty name is never given twice in one testbed.
    int add(const PortEntry &entry);
    // Takes the port off the list, as its device leaves the bus.
    void remove(int index);

    QStringList names() const;
    // The file behind the port's node, as the testbed keeps it.
    QString nodeFile(int index) const;
    WriteSeen seen(int index) const;
    // The bytes at the other end of the pty; waits for at least "expected" of them.
    QByteArray received(int index, int expected) const;

private:
    struct Port
    {
        QString name;
        QStringList devices; // sysfs paths, the tty first
        bool removed = false;
        int master = -1;
        UMockdevIoctlBase *handler = nullptr;
        mutable QMutex mutex;
        WriteSeen seen;
    };

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer);
    static gboolean onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer data);

    UMockdevTestbed *m_testbed = nullptr;
    std::vector<std::unique_ptr<Port>> m_ports;
    std::vector<std::unique_ptr<QSerialPort>> m_holders;
    static int s_nextMinor;
};

#endif // CFAKESERIALPORTS_H
