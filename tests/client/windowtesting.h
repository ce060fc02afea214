#pragma once

// Helpers for the client window tests: driving the main window and its dialogs through their
// Designer object names, and preparing the scripted server's replies.

#include "logindialog.h"
#include "mainwindow.h"
#include "messageboxwatcher.h"
#include "messages.h"
#include "scriptedserver.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTreeWidget>
#include <QtTest>

namespace WindowTesting {

template <class T>
T* widget(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (!child)
        qWarning() << "no widget named" << name;
    return child;
}

// The most recently created dialog of a kind among the window's children.
template <class T>
T* newest(QObject* parent)
{
    const QList<T*> all = parent->findChildren<T*>(QString(), Qt::FindDirectChildrenOnly);
    return all.isEmpty() ? nullptr : all.last();
}

inline QByteArray readFile(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString& name, const QByteArray& content)
{
    QFile file(name);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

// A port on which nothing listens: a server is opened on a free port and closed again.
inline void writeRefusedAddress()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(port));
}

// A reply of word frames and the end-of-stream frame in one write, the connection left open so that
// only the client can close it.
inline void addOpenReply(ScriptedServer& server, const QList<QStringList>& frames)
{
    QByteArray bytes;
    for (const QStringList& frame : frames)
        bytes += frameOf(frame);
    server.addReply({bytes + Wire::endOfStreamFrame()}, false);
}

inline QStringList account(const QString& id, const QString& name, const QString& level)
{
    return {id, name, level, QStringLiteral("pw"), QStringLiteral("2020001"), QStringLiteral("555-0100"),
            QStringLiteral("a@example.org"), QStringLiteral("about me")};
}

// Opens the login dialog, fills it and presses log in.
inline void pressLogin(MainWindow& window, const QString& id, const QString& password)
{
    widget<QAction>(&window, "actionLogin")->trigger();
    LoginDialog* dialog = newest<LoginDialog>(&window);
    widget<QLineEdit>(dialog, "userNameEdit")->setText(id);
    widget<QLineEdit>(dialog, "passwordEdit")->setText(password);
    widget<QPushButton>(dialog, "loginButton")->click();
}

// Logs in with an account of the given level; the "PASS!" box is answered by the watcher.
inline bool logIn(MainWindow& window, ScriptedServer& server, MessageBoxWatcher& boxes, const QString& id,
                  const QString& level)
{
    server.addFrames({QStringList{QStringLiteral("PASS")} + account(id, id + QStringLiteral(" Name"), level)});
    const int before = boxes.boxes().size();
    pressLogin(window, id, QStringLiteral("pw"));
    return QTest::qWaitFor([&] { return boxes.boxes().size() > before && window.currentUser().id == id; });
}

} // namespace WindowTesting
