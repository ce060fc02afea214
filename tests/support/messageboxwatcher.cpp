#include "messageboxwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

MessageBoxWatcher::MessageBoxWatcher(QObject* parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
    m_timer.start(10);
}

QStringList MessageBoxWatcher::seen() const
{
    QStringList list;
    for (const Box& box : m_boxes)
        list << box.title + QLatin1Char('|') + box.text;
    return list;
}

void MessageBoxWatcher::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget* widget : widgets) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (!box || !box->isVisible())
            continue;
        if (box->button(QMessageBox::Yes)) {
            if (m_openQuestion != box) {
                m_openQuestion = box;
                m_questionOpenFor.start();
            }
            if (m_questionOpenFor.elapsed() < questionDelayMs)
                continue;
            m_openQuestion = nullptr;
            m_questions.append(box->windowTitle() + QLatin1Char('|') + box->text());
            m_questionButtons.append(box->button(QMessageBox::Yes)->text() + QLatin1Char('|')
                                     + box->button(QMessageBox::No)->text());
            box->button(answerYes ? QMessageBox::Yes : QMessageBox::No)->click();
            continue;
        }
        m_boxes.append({box->windowTitle(), box->text()});
        QAbstractButton* button = box->defaultButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button)
            button->click();
        else
            box->close();
    }
}
