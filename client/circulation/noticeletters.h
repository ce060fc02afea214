#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QPagedPaintDevice;
class QPainter;
class QRectF;

// The desk's letters to readers without e-mail: one letter per reader, on a page of its own, saying
// what the reader's notices say (books due soon, overdue, kept for pick-up), Chinese first with the
// same text in English below.
struct NoticeLetter {
    QString userId, name;
    QList<qint64> noticeIds;
    QStringList kinds; // DUE_SOON, OVERDUE, HOLD_READY
    QList<QStringList> loans; // rows of QUERY_USER_LOANS
    QList<QStringList> holds; // rows of QUERY_USER_HOLDS
};

namespace NoticeLetters {

// The letters of the rows of the letter list ("letter" rows of QUERY_NOTICES), one per reader, in
// the order the readers first appear; loans and holds still to be filled in.
QList<NoticeLetter> fromRows(const QList<QStringList>& rows);

// A letter as HTML, for the page.
QString html(const NoticeLetter& letter);

// One letter drawn into the rectangle (a page within its margins).
void render(const NoticeLetter& letter, QPainter& painter, const QRectF& page);

// Every letter on pages of the device (A4), one reader per page; false when nothing could be drawn.
bool print(const QList<NoticeLetter>& letters, QPagedPaintDevice& device);

} // namespace NoticeLetters
