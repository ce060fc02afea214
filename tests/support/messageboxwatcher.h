#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

// Answers the modal message boxes that the code under test opens: every few milliseconds it looks for
// an active QMessageBox, records its title and text, and presses its default (Ok) button or the
// answer set.
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
    void clear() { m_boxes.clear(); }
    // Presses this button where a box has it, instead of the default one (e.g. Yes or No of a question).
    void setAnswer(QMessageBox::StandardButton answer) { m_answer = answer; }
    // Titles and texts as "title|text", handy for QCOMPARE.
    QStringList seen() const;

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    QMessageBox::StandardButton m_answer = QMessageBox::NoButton;
};
