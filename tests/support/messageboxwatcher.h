#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Answers the modal message boxes that the code under test opens: every few milliseconds it looks for
// an active QMessageBox, records its title and text, and presses its default (Ok) button. A question
// (a box with Yes and No) is recorded apart, in questions(), and answered with questionAnswer (Yes
// unless a test says otherwise), so tests of what follows a confirmation see only the boxes after it.
class MessageBoxWatcher : public QObject
{
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
    };

    explicit MessageBoxWatcher(QObject* parent = nullptr);

    const QList<Box>& boxes() const { return m_boxes; }
    void clear()
    {
        m_boxes.clear();
        m_questions.clear();
    }
    // The questions asked, as "title|text".
    const QStringList& questions() const { return m_questions; }
    bool answerYes = true;
    // Titles and texts as "title|text", handy for QCOMPARE.
    QStringList seen() const;

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    QStringList m_questions;
};
