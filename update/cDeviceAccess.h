#ifndef CDEVICEACCESS_H
#define CDEVICEACCESS_H

#include "cToolOutput.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// Sets up what this system lacks for the updater to open the Orvik, when the updater sees it
// lacking: on Windows the bootloader's driver (the tool cannot open the bootloader without
// one), on Linux the udev rules that let the user at the computer open the Orvik. It offers,
// and on "set up" runs the release's helper with administrator rights and says how that went.
// The window shows the question while "asking" holds.
class cDeviceAccess : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool asking READ asking NOTIFY changed)
    Q_PROPERTY(bool working READ working NOTIFY changed)
    Q_PROPERTY(bool done READ done NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    // The question's words on this system: its title and its button.
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString action READ action CONSTANT)
    Q_PROPERTY(QString actionDescription READ actionDescription CONSTANT)

public:
    explicit cDeviceAccess(QObject *parent = nullptr);
    ~cDeviceAccess() override;

    bool asking() const { return m_asking; }
    // The helper runs; the question waits for its outcome.
    bool working() const { return m_working; }
    // The helper set it up: the question says so and offers nothing more.
    bool done() const { return m_done; }
    // What the question says: the offer, the wait, or the outcome in plain words.
    QString text() const { return m_text; }
    QString title() const;
    QString action() const;
    QString actionDescription() const;

    // The helper, relative to the working directory, as the flashing tool is.
    static QString helperPath();

public slots:
    // The presence line saw the Orvik, but this user cannot open it, for the reason given:
    // offered once a start.
    void unopenableSeen(cToolOutput::eUnopened why);
    // An attempt failed: offered each time the reason is one this system can set right.
    void attemptFailed(const QByteArray &toolErrors);
    // An attempt runs: no question meanwhile.
    void attemptStarted();
    // The question's button: runs the helper, without waiting for it here.
    void setUp();
    // "Not now", or the question closed: nothing changes.
    void dismiss();

signals:
    void changed();

private:
    enum class eHelperStart
    {
        Started,
        Declined,    // the request for administrator rights was answered No
        NotElevated, // no way to ask for them here (Linux: pkexec is missing)
        Missing,     // the helper is not in the updater's folder
        Failed
    };
    // The texts that differ between the systems.
    enum class eText
    {
        Title,
        Action,
        ActionDescription,
        Question,
        Working,
        Done,
        Declined,
        NotElevated,
        Missing,    // %1: the helper
        NotStarted, // %1: the helper, %2: the error
        EndedWith   // %1: the helper, %2: its exit code
    };
    // What the run of the helper shares with this object; it may outlive this object.
    struct cHelperRun;

    void offer();
    void helperEnded(eHelperStart start, int exitCode, const QString &line, quint32 error);

    // Whether this system can set right what keeps the Orvik closed for this reason.
    static bool offersFor(cToolOutput::eUnopened why);
    static QString textOf(eText which);
    // Starts the helper; helperEnded() follows from the event loop, once it has ended.
    void startHelper();
    // At destruction: a helper still running reports to nobody.
    void forgetHelper();

    bool m_asking = false;
    bool m_working = false;
    bool m_done = false;
    bool m_offeredFromListing = false;
    QString m_text;
    std::shared_ptr<cHelperRun> m_run;
};

#endif // CDEVICEACCESS_H
