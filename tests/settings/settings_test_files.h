#pragma once
// A settings file in a temporary folder for the settings tests: write its bytes,
// read them back, point an engine call or a cInifile at it.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace tw::test {

class SettingsFile {
public:
    SettingsFile()
        : m_path(m_dir.filePath(QStringLiteral("control.ini")))
    {
    }

    // In a folder made inside `parent` (say /dev/shm, where flushing costs nothing).
    explicit SettingsFile(const QString& parent)
        : m_dir(parent + QStringLiteral("/settings-XXXXXX"))
        , m_path(m_dir.filePath(QStringLiteral("control.ini")))
    {
    }

    const QString& path() const { return m_path; }
    QString folder() const { return m_dir.path(); }

    void write(const QByteArray& bytes) const
    {
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }

    // The file's bytes; "<missing>" when there is no file.
    QByteArray bytes() const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return QByteArrayLiteral("<missing>");
        return file.readAll();
    }

    bool exists() const { return QFile::exists(m_path); }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace tw::test
