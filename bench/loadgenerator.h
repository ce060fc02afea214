#pragma once

#include "frame.h"
#include "latencystats.h"

#include <QList>
#include <QStringList>

#include <chrono>
#include <vector>

class Workload;

// Drives a workload against a server on 127.0.0.1 over `connections` concurrent connections, each
// doing what the protocol asks of a client: connect, write one request frame, read frames until the
// end-of-stream word, close; then the next request. One thread and epoll, so the generator takes as
// little of the machine as it can from the server it measures.
class LoadGenerator
{
public:
    struct Options {
        quint16 port = 0;
        int connections = 16;
        double seconds = 10; // no operation starts after this
        qint64 maxOperations = 0; // stop after this many finished operations; 0: no limit
        bool verify = true; // check each reply with the workload
        int stepTimeoutMs = 10000;
    };

    // One step of the operations: its own latencies (of the operations counted in `operations`), its
    // reply frames and the steps that failed.
    struct Step {
        LatencyStats latencies;
        qint64 frames = 0;
        qint64 failures = 0;
    };

    struct Result {
        qint64 operations = 0; // finished with right replies (or unchecked)
        qint64 failures = 0; // a wrong reply, a refused or broken connection, or a timeout
        qint64 frames = 0; // reply frames of finished operations, end-of-stream words excluded
        double elapsedSeconds = 0;
        LatencyStats latencies; // of the operations counted in `operations`
        std::vector<Step> steps; // one per step of the workload
        QString firstFault;
        double rate() const { return elapsedSeconds > 0 ? double(operations) / elapsedSeconds : 0; }
    };

    LoadGenerator(Workload& workload, const Options& options);
    ~LoadGenerator();
    LoadGenerator(const LoadGenerator&) = delete;
    LoadGenerator& operator=(const LoadGenerator&) = delete;

    Result run();

private:
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, Waiting, Connecting, Writing, Reading };

    struct Slot {
        State state = State::Idle;
        int fd = -1;
        int step = 0;
        bool wrong = false; // a step of this operation got a wrong reply
        Clock::time_point operationStart;
        Clock::time_point stepStart;
        std::vector<qint64> stepNanoseconds; // of this operation, counted when it succeeds
        Clock::time_point stepDeadline;
        Clock::time_point resumeAt;
        QByteArray request;
        qsizetype written = 0;
        FrameReader reader;
        QList<QStringList> frames;
    };

    void beginOperation(int index);
    void beginStep(int index);
    void onEvent(int index, quint32 events);
    void writeRequest(int index);
    void readReply(int index);
    void finishStep(int index);
    void abandon(int index, const QString& why);
    void finishOperation(int index, bool ok, std::chrono::milliseconds pause);
    void closeSocket(Slot& slot);
    void noteFault(const QString& why);
    bool accepting() const;

    Workload& m_workload;
    Options m_options;
    int m_epoll = -1;
    std::vector<Slot> m_slots;
    Clock::time_point m_start;
    Clock::time_point m_stopStarting;
    Clock::time_point m_lastFinish;
    Result m_result;
    qint64 m_begun = 0;
};
