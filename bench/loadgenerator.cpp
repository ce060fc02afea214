#include "loadgenerator.h"

#include "workload.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr auto RetryPause = std::chrono::milliseconds(10);

} // namespace

LoadGenerator::LoadGenerator(Workload& workload, const Options& options)
    : m_workload(workload)
    , m_options(options)
    , m_slots(size_t(qMax(1, options.connections)))
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_result.steps.resize(size_t(workload.steps()));
    for (Slot& slot : m_slots)
        slot.stepNanoseconds.resize(size_t(workload.steps()));
}

LoadGenerator::~LoadGenerator()
{
    for (Slot& slot : m_slots)
        closeSocket(slot);
    if (m_epoll >= 0)
        ::close(m_epoll);
}

bool LoadGenerator::accepting() const
{
    if (m_options.maxOperations > 0 && m_begun >= m_options.maxOperations)
        return false;
    return Clock::now() < m_stopStarting;
}

LoadGenerator::Result LoadGenerator::run()
{
    if (m_epoll < 0) {
        noteFault(QStringLiteral("epoll_create1: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return m_result;
    }
    m_start = Clock::now();
    m_lastFinish = m_start;
    m_stopStarting =
        m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_options.seconds));
    // Operations under way when the time is up may finish, within one step timeout.
    const Clock::time_point hardStop = m_stopStarting + std::chrono::milliseconds(m_options.stepTimeoutMs);

    for (int i = 0; i < int(m_slots.size()); ++i)
        beginOperation(i);

    epoll_event events[64];
    for (;;) {
        const Clock::time_point now = Clock::now();
        bool busy = false;
        for (int i = 0; i < int(m_slots.size()); ++i) {
            Slot& slot = m_slots[size_t(i)];
            if (slot.state == State::Waiting && now >= slot.resumeAt)
                beginOperation(i);
            else if (slot.state != State::Idle && slot.state != State::Waiting && now >= slot.stepDeadline)
                abandon(i, QStringLiteral("no end-of-stream word within %1 ms").arg(m_options.stepTimeoutMs));
            busy = busy || slot.state != State::Idle;
        }
        if (!busy || now >= hardStop)
            break;
        const int count = ::epoll_wait(m_epoll, events, 64, 5);
        if (count < 0 && errno != EINTR) {
            noteFault(QStringLiteral("epoll_wait: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            break;
        }
        for (int e = 0; e < count; ++e)
            onEvent(int(events[e].data.u32), events[e].events);
    }
    for (Slot& slot : m_slots)
        closeSocket(slot);
    m_result.elapsedSeconds = std::chrono::duration<double>(m_lastFinish - m_start).count();
    return m_result;
}

void LoadGenerator::beginOperation(int index)
{
    Slot& slot = m_slots[size_t(index)];
    if (!accepting()) {
        slot.state = State::Idle;
        return;
    }
    ++m_begun;
    slot.step = 0;
    slot.wrong = false;
    slot.operationStart = Clock::now();
    beginStep(index);
}

void LoadGenerator::beginStep(int index)
{
    Slot& slot = m_slots[size_t(index)];
    slot.request = m_workload.request(index, slot.step);
    slot.written = 0;
    slot.reader.reset();
    slot.frames.clear();
    slot.stepStart = Clock::now();
    slot.stepDeadline = slot.stepStart + std::chrono::milliseconds(m_options.stepTimeoutMs);

    slot.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (slot.fd < 0) {
        abandon(index, QStringLiteral("socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const int on = 1;
    ::setsockopt(slot.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_options.port);
    if (::connect(slot.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 && errno != EINPROGRESS) {
        abandon(index, QStringLiteral("connect: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    epoll_event event{};
    event.events = EPOLLOUT;
    event.data.u32 = quint32(index);
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, slot.fd, &event);
    slot.state = State::Connecting;
}

void LoadGenerator::onEvent(int index, quint32 events)
{
    Slot& slot = m_slots[size_t(index)];
    switch (slot.state) {
    case State::Connecting: {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            abandon(index, QStringLiteral("connect: %1").arg(QString::fromLocal8Bit(std::strerror(error))));
            return;
        }
        slot.state = State::Writing;
        writeRequest(index);
        return;
    }
    case State::Writing:
        writeRequest(index);
        return;
    case State::Reading:
        readReply(index);
        return;
    default:
        Q_UNUSED(events);
        return;
    }
}

void LoadGenerator::writeRequest(int index)
{
    Slot& slot = m_slots[size_t(index)];
    while (slot.written < slot.request.size()) {
        const ssize_t sent = ::send(slot.fd, slot.request.constData() + slot.written,
                                    size_t(slot.request.size() - slot.written), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno == EAGAIN)
            return; // EPOLLOUT brings us back
        if (sent < 0) {
            abandon(index, QStringLiteral("write: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        slot.written += sent;
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = quint32(index);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, slot.fd, &event);
    slot.state = State::Reading;
}

void LoadGenerator::readReply(int index)
{
    Slot& slot = m_slots[size_t(index)];
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(slot.fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            return;
        if (got < 0) {
            abandon(index, QStringLiteral("read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        if (got == 0) {
            abandon(index, QStringLiteral("connection closed before the end-of-stream word"));
            return;
        }
        slot.reader.feed(QByteArray(buffer, got));
        for (;;) {
            FrameReader::Result frame = slot.reader.next();
            if (frame.status == FrameReader::Status::Incomplete)
                break;
            if (frame.status == FrameReader::Status::EndOfStream) {
                finishStep(index);
                return;
            }
            if (frame.status == FrameReader::Status::Error) {
                abandon(index, QStringLiteral("reply frame with size word 0"));
                return;
            }
            const std::optional<QStringList> values = Wire::decodeBody(frame.body);
            if (!values) {
                abandon(index, QStringLiteral("reply frame whose strings overrun it"));
                return;
            }
            slot.frames.append(*values);
        }
    }
}

void LoadGenerator::finishStep(int index)
{
    Slot& slot = m_slots[size_t(index)];
    closeSocket(slot);
    Step& step = m_result.steps[size_t(slot.step)];
    slot.stepNanoseconds[size_t(slot.step)] =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - slot.stepStart).count();
    m_result.frames += slot.frames.size();
    step.frames += slot.frames.size();
    if (m_options.verify) {
        const QString why = m_workload.fault(index, slot.step, slot.frames);
        if (!why.isEmpty()) {
            noteFault(why);
            slot.wrong = true;
            ++step.failures;
        }
    }
    // A refused step does not stop the operation: a refused borrow is followed by its return all the
    // same, so the next operation on this connection starts from the same state.
    if (++slot.step < m_workload.steps()) {
        beginStep(index);
        return;
    }
    finishOperation(index, !slot.wrong, {});
}

void LoadGenerator::abandon(int index, const QString& why)
{
    Slot& slot = m_slots[size_t(index)];
    closeSocket(slot);
    ++m_result.steps[size_t(slot.step)].failures;
    noteFault(why);
    // Pause before the next operation: a server that refuses connections would otherwise be
    // hammered in a tight loop.
    finishOperation(index, false, RetryPause);
}

void LoadGenerator::finishOperation(int index, bool ok, std::chrono::milliseconds pause)
{
    Slot& slot = m_slots[size_t(index)];
    const Clock::time_point now = Clock::now();
    if (ok) {
        ++m_result.operations;
        m_result.latencies.add(std::chrono::duration_cast<std::chrono::nanoseconds>(now - slot.operationStart).count());
        for (size_t s = 0; s < m_result.steps.size(); ++s)
            m_result.steps[s].latencies.add(slot.stepNanoseconds[s]);
    } else {
        ++m_result.failures;
    }
    m_lastFinish = now;
    if (pause.count() > 0 && accepting()) {
        slot.state = State::Waiting;
        slot.resumeAt = now + pause;
        return;
    }
    beginOperation(index);
}

void LoadGenerator::closeSocket(Slot& slot)
{
    if (slot.fd < 0)
        return;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, slot.fd, nullptr);
    ::close(slot.fd);
    slot.fd = -1;
}

void LoadGenerator::noteFault(const QString& why)
{
    if (m_result.firstFault.isEmpty())
        m_result.firstFault = why;
}
