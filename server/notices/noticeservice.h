#pragma once

#include "noticetemplates.h"
#include "serversettings.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class DatabasePool;

// Notices on a thread of their own, away from the requests (an SMTP exchange takes seconds): a scan
// at start and every `scanSeconds`, and a look for notices due to be sent every second, so that
// retries follow the server's clock. wake() asks for a scan at once (a copy was just kept for a
// reader).
class NoticeService
{
public:
    using LogFunction = std::function<void(const QString&)>;

    NoticeService(DatabasePool& database, const NoticeSettings& settings, LogFunction log);
    ~NoticeService();
    NoticeService(const NoticeService&) = delete;
    NoticeService& operator=(const NoticeService&) = delete;

    // Why these settings cannot send e-mail, or an empty string.
    static QString problem(const NoticeSettings& settings);

    void start();
    void stop();
    void wake();

    // One scan in a write transaction; a log line when it queued anything. False when it failed.
    static bool scan(DatabasePool& database, const NoticeSettings& settings, const LogFunction& log);

    // What the next scan would queue and what would be sent now, and to whom, one line each through
    // `print`; changes nothing. False when the database could not be read.
    static bool dryRun(DatabasePool& database, const NoticeSettings& settings, const LogFunction& print);

private:
    void loop();

    DatabasePool& m_database;
    NoticeSettings m_settings;
    NoticeTemplates m_templates;
    LogFunction m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_scanAsked = true;
    std::thread m_thread;
};
