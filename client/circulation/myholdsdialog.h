#pragma once

#include "requestexchange.h"

#include <QDialog>

#include <memory>

namespace Ui {
class MyHoldsDialog;
}

// The logged-in reader's own holds (我的预约): each copy's place in its queue and, once the copy is
// back and kept for the reader, the pick-up deadline, told above the list and the row in bold so that
// it is not missed. 取消预约 gives up the selected hold after asking; the list is then read again.
class MyHoldsDialog : public QDialog
{
    Q_OBJECT

public:
    MyHoldsDialog(const QString& userId, QWidget* parent);
    ~MyHoldsDialog() override;

private:
    void refresh();
    void showRows(const QList<QStringList>& frames);
    void cancelHold();
    void cancelled(const QList<QStringList>& frames);

    std::unique_ptr<Ui::MyHoldsDialog> m_ui;
    QString m_userId;
    RequestExchange m_list{this, HoldRecord::Size};
    RequestExchange m_cancel{this};
};
