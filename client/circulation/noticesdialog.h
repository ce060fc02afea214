#pragma once

#include "noticeletters.h"
#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class NoticesDialog;
}
class QPagedPaintDevice;

// The notices of the last 30 days (通知) for staff: their state, filtered by state and reader, a
// failing one sent again (重新发送), and the letter list printed as one letter per reader (打印信件),
// which marks those letters printed.
class NoticesDialog : public QDialog
{
    Q_OBJECT

public:
    explicit NoticesDialog(QWidget* parent);
    ~NoticesDialog() override;

    // The state words of the list, as the filter offers them (index 0: every state).
    static QString stateWord(int index);
    // A kind word as the list shows it.
    static QString shown(const QString& word);

    // Prints the letters of the letter list on `device` (the print dialog's printer, or a PDF writer),
    // then marks them printed. Finishes with lettersPrinted().
    void printLetters(QPagedPaintDevice* device);

    // The letters the last printLetters() drew.
    const QList<NoticeLetter>& letters() const { return m_letters; }

signals:
    void lettersPrinted(int letters);

private:
    void search();
    void showRows(const QList<QStringList>& frames);
    void resendSelected();
    void askAndPrintLetters();
    // The next letter's loans and holds, then the next letter; all done: print.
    void fillNextLetter();

    std::unique_ptr<Ui::NoticesDialog> m_ui;
    RequestExchange m_list{this, NoticeRecord::Size};
    RequestExchange m_resend{this};
    RequestExchange m_letterRows{this, NoticeRecord::Size};
    RequestExchange m_loans{this, UserLoanRecord::Size};
    RequestExchange m_holds{this, HoldRecord::Size};
    RequestExchange m_markPrinted{this};
    QList<NoticeLetter> m_letters;
    qsizetype m_filling = 0;
    QPagedPaintDevice* m_device = nullptr;
    std::unique_ptr<QPagedPaintDevice> m_ownedDevice;
};
