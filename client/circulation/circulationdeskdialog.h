#pragma once

#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CirculationDeskDialog;
}

// The circulation desk (借还台) for staff: type or scan a reader's ID to see the reader, their loans
// (overdue due dates in red) and holds; then scan book numbers to check them out to that reader, or
// into the check-in field to take them back one after another. Each scan is answered in the desk's
// log, so that the next scan can follow at once: who had the copy, how late it is, and when a hold
// waits, which reader to put it aside for.
class CirculationDeskDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CirculationDeskDialog(QWidget* parent);

    // The slip's lines: the loans of `lent` among `loans` or, when `lent` is empty, every loan.
    static QList<UserLoanRecord> slipLoans(const QList<UserLoanRecord>& loans, const QStringList& lent);
    ~CirculationDeskDialog() override;

    // The reader whose loans show, or an empty string.
    QString reader() const { return m_reader; }

private:
    void lookUpReader();
    void reloadReader();
    void showReader(const QList<QStringList>& frames);
    void showLoans(const QList<QStringList>& frames);
    void showHolds(const QList<QStringList>& frames);
    void checkOut();
    void checkedOut(const QList<QStringList>& frames);
    void checkIn();
    void checkedIn(const QList<QStringList>& frames);
    void renew();
    void renewed(const QList<QStringList>& frames);
    // The due-date slip: the books lent in this visit of the reader, or all their loans when none.
    void printSlip();
    // A line of the desk's log, newest on top; refusals in red.
    // A line of the desk's log, newest first: done, refused (red), or a copy to put aside (bold, blue).
    enum class Note { Done, Refused, PutAside };
    void note(const QString& text, Note kind = Note::Done);

    std::unique_ptr<Ui::CirculationDeskDialog> m_ui;
    RequestExchange m_readerLookup{this, UserRecord::Size};
    RequestExchange m_loans{this, UserLoanRecord::Size};
    RequestExchange m_holds{this, HoldRecord::Size};
    RequestExchange m_checkout{this};
    RequestExchange m_checkin{this};
    RequestExchange m_renewal{this};
    QString m_reader;
    QString m_readerName; // the reader served
    QString m_checkedOutNumber; // lent: its line waits for the reader's loans with its title and due date
    QList<UserLoanRecord> m_loanRecords; // the reader's loans as last listed
    QStringList m_lentThisVisit; // copies checked out since the reader was looked up
    QString m_checkoutNumber, m_checkinNumber, m_renewNumber; // the copy each exchange is about
};
