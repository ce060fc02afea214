#pragma once

#include "noticetemplates.h"
#include "serversettings.h"
#include "smtpsender.h"
#include "storage.h"

#include <QDateTime>

#include <functional>

class DatabasePool;

// Delivers the queued notices that are due: one e-mail per reader and kind, listing every book of
// them. Each notice is first taken for this sender (so another server on the same database leaves
// it alone) and checked again: a loan returned or renewed, or a hold collected, cancelled or run
// out since it was queued, makes the notice obsolete, and it is not sent. A notice is marked sent
// only after the SMTP server accepted the message; a failure leaves it queued, with its attempts and
// the SMTP server's answer, for another try 1 minute later, then 2, 4, ... up to an hour.
//
// A server that stops between the SMTP server's acceptance and marking the notice sent sends it
// again after `ClaimMinutes`: a crash at that moment can double a message, never lose one.
class NoticeSender
{
public:
    using LogFunction = std::function<void(const QString&)>;

    NoticeSender(DatabasePool& database, const NoticeSettings& settings, const NoticeTemplates& templates,
                 LogFunction log);

    // Sends what is due at `now`; the number of e-mails the SMTP server accepted.
    int sendDue(const QDateTime& now);

    // The delay before the next try after `failures` failed ones.
    static qint64 retryDelaySeconds(int failures);
    // The message of one reader's notices of one kind.
    static MailMessage compose(const QList<NoticeRow>& notices, const NoticeSettings& settings,
                               const NoticeTemplates& templates);

    static constexpr int ClaimMinutes = 15;

private:
    // Takes the notices of one reader and kind and checks them again; returns those still to send.
    QList<NoticeRow> claim(const QList<NoticeRow>& group, const QDateTime& now);
    // Whether a notice is still true: its loan or hold is as it was when it was queued.
    static bool stillTrue(Storage& storage, const NoticeRow& notice, const QDateTime& now);

    DatabasePool& m_database;
    NoticeSettings m_settings;
    const NoticeTemplates& m_templates;
    SmtpSender m_smtp;
    LogFunction m_log;
};
