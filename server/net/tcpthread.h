#pragma once

#include "messages.h"
#include "userinfo.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QSslConfiguration>
#include <QString>
#include <QTcpSocket>
#include <QThread>
#include <QWaitCondition>

struct ServerContext;
class Logger;

// Serves one connection at a time: on a TLS port, first the handshake; then reads one request frame, whose
// first byte must come within the first-byte deadline and the whole within the request deadline, decodes
// it, has the request table run the handler of its code, writes the reply frames and the end-of-stream
// frame and closes. Malformed input gets the end-of-stream frame too, and a log line that says what was
// wrong. The thread then waits a while for the server to hand it the next connection (serveNext()):
// starting a thread and ending it cost more than serving a lookup, and every request is a connection.
// The request records below are the documented shape of the thread; the handlers get typed requests
// from the table.
class TcpThread : public QThread
{
    Q_OBJECT
public:
    // `tls`: the TLS set-up of the port the connection came to, or nullptr for the plain port.
    TcpThread(qintptr socketDescriptor, ServerContext* context, Logger* logger, const QSslConfiguration* tls = nullptr,
              QObject* parent = nullptr);

signals:
    void error(QTcpSocket::SocketError socketError);
    // A connection is over and the thread waits for the next one. Emitted from the thread itself.
    void connectionDone(TcpThread* thread);

public slots:
    // Reads and answers the request of the connection; only does something inside run().
    void receiveFile();

public:
    // Ends the connection at once from any thread, e.g. when the server shuts down: waits in run()
    // return and the thread finishes without waiting for another connection.
    void abortConnection();
    // Gives the thread its next connection while it waits for one (after connectionDone()). False once
    // it has stopped waiting and is ending: the descriptor is then still the caller's.
    bool serveNext(qintptr socketDescriptor, const QSslConfiguration* tls);

protected:
    void run() override;

private:
    // The frame body of the request, or an empty array with m_problem set.
    QByteArray readRequest();
    void serveConnection();
    // Waits for serveNext(); false when the thread should end (aborted, or idle for too long).
    bool awaitNextConnection();
    bool startEncryption();
    bool writeReply(const QByteArray& bytes);
    void closeConnection(bool drainFirst);
    void logLine(const QString& what);

    UserInfo m_account; // the record sent after a successful login
    qintptr m_socketDescriptor;
    ServerContext* m_context;
    Logger* m_logger;
    QString m_peer;
    BookQuery m_bookQuery;
    LoginQuery m_loginQuery;
    UserUpdateQuery m_userUpdateQuery;
    UserRegisterQuery m_userRegisterQuery;
    AddBookQuery m_addBookQuery;
    QString m_queryCode;
    QString m_problem; // why the request was not served, for the log
    DeleteBookQuery m_deleteBookQuery;
    BorrowBookQuery m_borrowBookQuery;
    SearchUserQuery m_searchUserQuery;
    UnconfirmUserQuery m_unconfirmUserQuery;
    DeleteUserQuery m_deleteUserQuery;
    EscalateUserQuery m_escalateUserQuery;
    DegradeUserQuery m_degradeUserQuery;
    UserBorrowBookQuery m_userBorrowBookQuery;
    ReturnBookQuery m_returnBookQuery;

    const QSslConfiguration* m_tls;
    QTcpSocket* m_socket = nullptr; // owned by run()
    QDeadlineTimer m_firstByteDeadline;
    QMutex m_descriptorMutex;
    qintptr m_openDescriptor = -1; // the descriptor while run() owns it
    bool m_aborted = false;
    bool m_waitingForNext = false;
    qintptr m_nextDescriptor = -1;
    const QSslConfiguration* m_nextTls = nullptr;
    QWaitCondition m_nextGiven;
    QElapsedTimer m_clock;
};
