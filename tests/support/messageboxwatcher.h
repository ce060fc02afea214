#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
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
        m_questionButtons.clear();
    }
    // The questions asked, as "title|text".
    const QStringList& questions() const { return m_questions; }
    // The texts of each question's Yes and No buttons, as "yes|no".
    const QStringList& questionButtons() const { return m_questionButtons; }
    bool answerYes = true;
    // How long a question stays open before it is answered: a user reading it.
    int questionDelayMs = 0;
    // Titles and texts as "title|text", handy for QCOMPARE.
    QStringList seen() const;

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    QStringList m_questions;
    QStringList m_questionButtons;
    QPointer<QWidget> m_openQuestion; // the question being read, and since when
    QElapsedTimer m_questionOpenFor;
};
