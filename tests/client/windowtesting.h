#pragma once

// Helpers for the client window tests: the scene each test runs in, driving the main window and its
// dialogs through their Designer object names, the rows and replies the scripted server sends, and
// reading back what a list shows.

#include "logindialog.h"
#include "mainwindow.h"
#include "messageboxwatcher.h"
#include "messages.h"
#include "scriptedserver.h"
#include "tempworkdir.h"
#include "tracecatcher.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace WindowTesting {

template <class T> T* widget(QObject* parent, const char* name)
{
    T* child = parent->findChild<T*>(QLatin1String(name));
    if (!child)
        qWarning() << "no widget named" << name;
    return child;
}

// The most recently created dialog of a kind among the window's children.
template <class T> T* newest(QObject* parent)
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

// The box every operation shows when its connection is refused.
inline const QString refusedBox = QStringLiteral("Error!|Can not connect to server!!!");

// Points hostIP.txt at a port on which nothing listens: a server is opened on a free port and closed
// again.
inline void writeRefusedAddress()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    writeFile(QStringLiteral("hostIP.txt"), "127.0.0.1\n" + QByteArray::number(port));
    writePlainClientSettings();
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
    return {id,
            name,
            level,
            QStringLiteral("pw"),
            QStringLiteral("2020001"),
            QStringLiteral("555-0100"),
            QStringLiteral("a@example.org"),
            QStringLiteral("about me")};
}

// Book n as a row of the search reply and of the result list, with the given state and reading level.
inline QStringList bookRow(int n, const QString& state = QStringLiteral("空闲"),
                           const QString& permission = QStringLiteral("VIP"))
{
    const QString i = QString::number(n);
    return {"书名" + i, "作者" + i, QStringLiteral("小说"), QStringLiteral("出版社"), QStringLiteral("1999"), "B-" + i,
            state,      permission};
}

// The texts of the first `columns` columns of a row.
inline QStringList rowTexts(const QTreeWidget* list, int row, int columns)
{
    QStringList texts;
    for (int column = 0; column < columns; ++column)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

// The texts of one column, top to bottom.
inline QStringList columnTexts(const QTreeWidget* list, int column)
{
    QStringList texts;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        texts << list->topLevelItem(row)->text(column);
    return texts;
}

// Clicks a dialog's button with the mouse, as a user would.
inline void press(QWidget* parent, const char* button)
{
    QTest::mouseClick(widget<QPushButton>(parent, button), Qt::LeftButton);
}

// What a test watches while it drives the client: the message boxes (answered and recorded) and the
// debug traces, whose "Receive End" marks that a reply has been read to its end.
struct Recorders {
    MessageBoxWatcher boxes;
    TraceCatcher traces;
};

// One scripted exchange made in a test's own scope: a server that hostIP.txt names, and the recorders.
struct Exchange : Recorders {
    Exchange() { server.writeAddressFile(); }
    ScriptedServer server;
};

// The scene a test class builds in init() and tears down in cleanup(). Each test starts in a fresh
// working directory, where hostIP.txt and the like land; the other parts are made as the class asks.
// Mixed into the test class (after QObject) so that the tests name the parts directly.
class ClientFixture
{
protected:
    enum Part {
        ServerAndBoxes = 0x1, // a scripted server that hostIP.txt names, and a watcher answering boxes
        HiddenWindow = 0x2, // the main window, not shown
        ShownWindow = 0x4, // the main window, shown
        DialogParent = 0x8, // a plain widget that owns the dialogs a test makes directly
    };

    void setUp(int parts)
    {
        dir = std::make_unique<TempWorkDir>();
        if (parts & ServerAndBoxes) {
            server = std::make_unique<ScriptedServer>();
            server->writeAddressFile();
            boxes = std::make_unique<MessageBoxWatcher>();
        }
        if (parts & (HiddenWindow | ShownWindow)) {
            window = std::make_unique<MainWindow>();
            if (parts & ShownWindow)
                window->show();
        }
        if (parts & DialogParent)
            dialogParent = std::make_unique<QWidget>();
    }

    // The reverse order of setUp(): windows and dialogs go before what they talk to, and the working
    // directory last.
    void tearDown()
    {
        dialogParent.reset();
        window.reset();
        boxes.reset();
        server.reset();
        dir.reset();
    }

    std::unique_ptr<TempWorkDir> dir;
    std::unique_ptr<ScriptedServer> server;
    std::unique_ptr<MessageBoxWatcher> boxes;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QWidget> dialogParent;
};

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
