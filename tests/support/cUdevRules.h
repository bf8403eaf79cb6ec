#ifndef CUDEVRULES_H
#define CUDEVRULES_H

#include <QDir>
#include <QFile>
#include <QStringList>

// The updater's udev rules on this machine (Linux), where its package, its access helper or an
// administrator put them. A test asks whether they are there, or puts them in place for as long
// as it lives (root only). Suites that do hold the resource lock "udev-rules", with the package
// check that installs them for real.
class cUdevRules
{
public:
    cUdevRules() = default;
    ~cUdevRules()
    {
        if (m_made)
            QFile::remove(path());
        for (const QString &folder : m_folders)
            QDir().rmdir(folder);
    }
    cUdevRules(const cUdevRules &) = delete;
    cUdevRules &operator=(const cUdevRules &) = delete;

    static bool present()
    {
        for (const char *folder :
             {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d",
              "/lib/udev/rules.d", "/usr/local/lib/udev/rules.d"}) {
            if (QFile::exists(QLatin1String(folder) + QLatin1String("/70-orvik-updater.rules")))
                return true;
        }
        return false;
    }

    // False where they cannot be written.
    bool install()
    {
        if (present())
            return true;
        for (const QString &folder :
             {QStringLiteral("/etc/udev"), QStringLiteral("/etc/udev/rules.d")}) {
            if (!QDir(folder).exists() && QDir().mkdir(folder))
                m_folders.prepend(folder);
        }
        QFile rules(path());
        m_made = rules.open(QIODevice::WriteOnly) && rules.write("# a test's\n") > 0;
        return m_made;
    }

private:
    static QString path() { return QStringLiteral("/etc/udev/rules.d/70-orvik-updater.rules"); }

    bool m_made = false;
    QStringList m_folders;
};

#endif // CUDEVRULES_H
