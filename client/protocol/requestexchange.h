#pragma once

#include "operationchannel.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class QWidget;

// One request and its whole reply, for the circulation windows, which act once the reply is complete:
// a word frame (with its fields) or a list of rows. It is the operation cycle of OperationChannel
// (trigger, sender, reader, error) written once for them.
class RequestExchange : public QObject
{
    Q_OBJECT

public:
    // Connection errors and refusals of lists are reported over `window`. For a list exchange
    // (`rowSize` > 0) a frame of one string in place of the rows is a refusal word: it is reported
    // (the login may have ended) and the exchange finishes with no rows.
    explicit RequestExchange(QWidget* window, int rowSize = 0);

    // Sends the request on a new connection; false (nothing sent) while the previous one is out.
    template <class Request> bool start(const Request& request)
    {
        if (m_channel.isBusy())
            return false;
        m_send = [this, request] { m_channel.send(request); };
        begin();
        return true;
    }
    bool isBusy() const { return m_channel.isBusy(); }
    // For a question asked in the background, which the window works without: a connection that
    // fails says nothing.
    void setQuietOnFailure() { m_quiet = true; }
    // True when the last list finished without rows because it was refused: an empty list then says
    // nothing about what the server holds.
    bool wasRefused() const { return m_refused; }

    // A refusal word as the user reads it (the client's one table of refusal messages).
    static QString refusalText(const QStringList& frame);
    // For a desk that writes refusals in its log instead of a box: true (and reported over `window`)
    // when the word ends the client's login.
    static bool reportIfLoginEnded(QWidget* window, const QStringList& frame);

signals:
    // Every frame before the end of the stream (none for a refused list, or a server that does not
    // know the request).
    void finished(const QList<QStringList>& frames);

private:
    void begin();
    void read();

    QWidget* m_window;
    int m_rowSize;
    OperationChannel m_channel;
    std::function<void()> m_send;
    QList<QStringList> m_frames;
    bool m_refused = false;
    bool m_quiet = false;
};
