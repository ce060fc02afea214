#include "noticeservice.h"

#include "databasepool.h"
#include "mailmessage.h"
#include "noticescan.h"
#include "noticesender.h"
#include "serverclock.h"
#include "smtpsender.h"

#include <QMap>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <tuple>

NoticeService::NoticeService(DatabasePool& database, const NoticeSettings& settings, LogFunction log)
    : m_database(database)
    , m_settings(settings)
    , m_templates(settings.templates)
    , m_log(std::move(log))
{
}

NoticeService::~NoticeService()
{
    stop();
}

QString NoticeService::problem(const NoticeSettings& settings)
{
    SmtpSettings smtp;
    smtp.url = settings.smtpUrl;
    if (const QString problem = smtp.problem(); !problem.isEmpty())
        return problem;
    if (!MailMessage::plausibleAddress(settings.from))
        return QStringLiteral("from \"%1\" is not an e-mail address").arg(settings.from);
    return QString();
}

void NoticeService::start()
{
    SmtpSender::initialise();
    for (const NoticeKind kind : {NoticeKind::DueSoon, NoticeKind::Overdue, NoticeKind::HoldReady})
        m_log(
            QStringLiteral("notices: template %1: %2").arg(NoticeTemplates::fileName(kind), m_templates.origin(kind)));
    const QUrl url(m_settings.smtpUrl);
    const bool startTls = url.scheme() == QLatin1String("smtp") && url.port(25) != 25 && !m_settings.allowPlainSmtp;
    m_log(QStringLiteral("notices: scanning every %1 s, sending through %2%3 as %4")
              .arg(m_settings.scanSeconds)
              .arg(m_settings.smtpUrl, startTls ? QStringLiteral(" (STARTTLS required)") : QString(), m_settings.from));
    m_thread = std::thread([this] { loop(); });
}

void NoticeService::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void NoticeService::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scanAsked = true;
    }
    m_wake.notify_all();
}

bool NoticeService::scan(DatabasePool& database, const NoticeSettings& settings, const LogFunction& log)
{
    QList<NoticeRow> queued;
    const bool committed = database.write([&](Storage& storage) {
        Storage::WriteTransaction transaction(storage);
        queued = NoticeScan(settings, ServerClock::nowUtc()).run(storage, false);
        if (storage.failed() || !transaction.commit())
            queued.clear();
    });
    if (!committed) {
        log(QStringLiteral("notices: the scan failed; it runs again at the next turn"));
        return false;
    }
    if (queued.isEmpty())
        return true;
    QMap<QString, int> byKind;
    int letters = 0;
    for (const NoticeRow& n : std::as_const(queued)) {
        ++byKind[n.kind];
        letters += n.state == Notice::Letter ? 1 : 0;
    }
    QStringList parts;
    for (auto it = byKind.cbegin(); it != byKind.cend(); ++it)
        parts.append(QStringLiteral("%1 %2").arg(it.value()).arg(it.key()));
    log(QStringLiteral("notices queued: %1 (%2 for the letter list)")
            .arg(parts.join(QStringLiteral(", ")))
            .arg(letters));
    return true;
}

void NoticeService::loop()
{
    NoticeSender sender(m_database, m_settings, m_templates, m_log);
    auto nextScan = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        const auto now = std::chrono::steady_clock::now();
        const bool scanNow = m_scanAsked || now >= nextScan;
        m_scanAsked = false;
        lock.unlock();
        if (scanNow) {
            scan(m_database, m_settings, m_log);
            nextScan = std::chrono::steady_clock::now() + std::chrono::seconds(m_settings.scanSeconds);
        }
        sender.sendDue(ServerClock::nowUtc());
        lock.lock();
        m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping || m_scanAsked; });
    }
}

bool NoticeService::dryRun(DatabasePool& database, const NoticeSettings& settings, const LogFunction& print)
{
    const QDateTime now = ServerClock::nowUtc();
    QList<NoticeRow> queued, due;
    if (!database.read([&](Storage& storage) {
            queued = NoticeScan(settings, now).run(storage, true);
            due = storage.dueNotices(ServerClock::stamp(now), 100000);
        }))
        return false;
    const auto to = [](const NoticeRow& n) {
        return n.state == Notice::Letter ? QStringLiteral("%1 (letter)").arg(n.accountId)
                                         : QStringLiteral("%1 <%2>").arg(n.accountId, n.email);
    };
    for (const NoticeRow& n : std::as_const(queued))
        print(QStringLiteral("would queue %1 for %2: %3 (%4), %5")
                  .arg(n.kind, to(n), n.title, n.bookNumber, ServerClock::shown(n.dueAt)));
    print(QStringLiteral("%1 notices would be queued").arg(queued.size()));
    // What is queued already and due now, and what this scan would add, go out together.
    for (const NoticeRow& n : std::as_const(queued)) {
        if (n.state == Notice::Queued)
            due.append(n);
    }
    std::stable_sort(due.begin(), due.end(), [](const NoticeRow& a, const NoticeRow& b) {
        return std::tie(a.accountId, a.kind) < std::tie(b.accountId, b.kind);
    });
    const NoticeTemplates templates(settings.templates);
    int messages = 0;
    for (qsizetype start = 0; start < due.size();) {
        qsizetype end = start + 1;
        while (end < due.size() && due[end].accountId == due[start].accountId && due[end].kind == due[start].kind)
            ++end;
        const QList<NoticeRow> group = due.mid(start, end - start);
        const MailMessage message = NoticeSender::compose(group, settings, templates);
        print(QStringLiteral("would send %1 to %2 (%3 books): %4")
                  .arg(group.first().kind, to(group.first()))
                  .arg(group.size())
                  .arg(message.subject));
        ++messages;
        start = end;
    }
    print(QStringLiteral("%1 e-mails would be sent").arg(messages));
    return true;
}
