#ifndef CDRIVERREPAIR_H
#define CDRIVERREPAIR_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// The bootloader without a driver that the flashing tool can use: on Windows the updater offers
// to install the driver package it ships, and runs the helper that does so with administrator
// rights. The window shows the question while "asking" holds. Elsewhere it never offers.
class cDriverRepair : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool asking READ asking NOTIFY changed)
    Q_PROPERTY(bool installing READ installing NOTIFY changed)
    Q_PROPERTY(bool installed READ installed NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)

public:
    explicit cDriverRepair(QObject *parent = nullptr);
    ~cDriverRepair() override;

    bool asking() const { return m_asking; }
    // The helper runs; the question waits for its outcome.
    bool installing() const { return m_installing; }
    // The helper put the package in place: the question says so and offers nothing more.
    bool installed() const { return m_installed; }
    // What the question says: the offer, the wait, or the outcome in plain words.
    QString text() const { return m_text; }

    // The helper, relative to the working directory, as the flashing tool is.
    static QString helperPath();

public slots:
    // A listing before any attempt saw the bootloader without a driver: offered once a start.
    void bootloaderSeenWithoutDriver();
    // An attempt failed: offered each time its tool's error output names the missing driver.
    void attemptFailed(const QByteArray &toolErrors);
    // An attempt runs: no question meanwhile.
    void attemptStarted();
    // "Install driver": runs the helper with administrator rights, without waiting for it here.
    void install();
    // "Not now", or the question closed: nothing changes.
    void dismiss();

signals:
    void changed();

private:
    enum class eHelperStart
    {
        Started,
        Declined, // the elevation prompt was answered No
        Missing,
        Failed
    };
    // What the thread that starts and waits for the helper shares with this object; it may
    // outlive this object.
    struct cHelperWait;

    void offer();
    void helperEnded(eHelperStart start, int exitCode, const QString &line, quint32 error);

    // Whether this system ever offers: only Windows binds drivers that the tool cannot use.
    static bool offers();
    // Starts the helper; helperEnded() follows from the event loop, once it has ended.
    void startHelper();
    // At destruction: a helper still running reports to nobody.
    void forgetHelper();

    bool m_asking = false;
    bool m_installing = false;
    bool m_installed = false;
    bool m_offeredFromListing = false;
    QString m_text;
    std::shared_ptr<cHelperWait> m_wait;
};

#endif // CDRIVERREPAIR_H
