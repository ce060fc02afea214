#pragma once

#include "messages.h"

#include <optional>

// The three things a reader is told about, by their wire names (Notice::dueSoon() and so on).
enum class NoticeKind { DueSoon, Overdue, HoldReady };

inline QString noticeKindName(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::DueSoon:
        return QString(Notice::DueSoon);
    case NoticeKind::Overdue:
        return QString(Notice::Overdue);
    case NoticeKind::HoldReady:
        return QString(Notice::HoldReady);
    }
    return QString();
}

inline std::optional<NoticeKind> noticeKindNamed(const QString& name)
{
    for (const NoticeKind kind : {NoticeKind::DueSoon, NoticeKind::Overdue, NoticeKind::HoldReady}) {
        if (noticeKindName(kind) == name)
            return kind;
    }
    return std::nullopt;
}
