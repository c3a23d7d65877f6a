#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace nimbara {

// One running instance per user: the first process listens on a local socket in the abstract
// namespace (no file to go stale after a crash), named with the user id; a later process tells it to
// re-open and leaves. Only connections from the same user are heard.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    enum class Role { Primary, Secondary, Failed };

    explicit SingleInstance(const QString &name, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Primary: this process holds the name and emits reopenRequested() for every later instance.
    // Secondary: a running instance holds it and has been asked to re-open.
    // Failed: neither listening nor reaching the holder worked.
    // A process started by a relaunch (Relauncher::takeRelaunchMark()) never asks to re-open: it
    // waits a few seconds for the name to come free and is Primary then, or Failed.
    Role start();

    // "nimbara-<uid>", with a digest of scope (for example the settings file) where one is given.
    static QString defaultName(const QString &scope = {});
    // Asks the instance holding the name to re-open; true when the request was delivered.
    static bool requestReopen(const QString &name, int timeoutMs = 2000);

signals:
    void reopenRequested();

private:
    void acceptConnections();
    void readRequest(QLocalSocket *socket);

    const QString m_name;
    QLocalServer *const m_server;
};

} // namespace nimbara
