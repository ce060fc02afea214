#include "myholdsdialog.h"

#include "accountwindow.h"

#include "formchecks.h"
#include "listcolumns.h"
#include "loginsession.h"
#include "messages.h"
#include "refusals.h"
#include "ui_myholdsdialog.h"

namespace {
enum Column { Title, Number, Place, State, Deadline };
}

MyHoldsDialog::MyHoldsDialog(const QString& userId, QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::MyHoldsDialog>())
    , m_userId(userId)
{
    m_ui->setupUi(this);
    AccountWindow::mark(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Modal like the borrowed-books list: the window's login cannot change under it.
    setAttribute(Qt::WA_ShowModal);
    // The title shares the room; number, place, state and deadline fit their texts.
    ListColumns::setUp(m_ui->holdList, {1, 0, 0, 0, 0});
    connect(m_ui->holdList, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_ui->cancelHoldButton->setEnabled(m_ui->holdList->currentItem() != nullptr); });
    connect(m_ui->cancelHoldButton, &QPushButton::clicked, this, &MyHoldsDialog::cancelHold);
    connect(m_ui->refreshButton, &QPushButton::clicked, this, &MyHoldsDialog::refresh);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_list, &RequestExchange::finished, this, &MyHoldsDialog::showRows);
    connect(&m_cancel, &RequestExchange::finished, this, &MyHoldsDialog::cancelled);
    show();
    refresh();
}

MyHoldsDialog::~MyHoldsDialog() = default;

void MyHoldsDialog::refresh()
{
    m_list.start(UserHoldsQuery{m_userId});
}

void MyHoldsDialog::showRows(const QList<QStringList>& frames)
{
    m_ui->holdList->clear();
    QStringList notes;
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::HoldRowSize);
        if (!row)
            continue;
        const HoldRecord hold = HoldRecord::from(*row);
        QTreeWidgetItem* item =
            ListColumns::addRow(m_ui->holdList, {hold.title, hold.number, hold.place, hold.state, hold.deadline});
        if (hold.state != BookState::onHold())
            continue;
        QFont bold = m_ui->holdList->font();
        bold.setBold(true);
        for (int column = Title; column <= Deadline; ++column)
            item->setFont(column, bold);
        notes << QStringLiteral("《%1》已为您保留，请在 %2 前到借还台取书。").arg(hold.title, hold.deadline);
    }
    ListColumns::fit(m_ui->holdList);
    if (m_ui->holdList->topLevelItemCount() == 0 && !m_list.wasRefused())
        notes << QStringLiteral("您目前没有预约。");
    m_ui->noteLabel->setText(notes.join(QLatin1Char('\n')));
    m_ui->noteLabel->setVisible(!notes.isEmpty());
    m_ui->cancelHoldButton->setEnabled(m_ui->holdList->currentItem() != nullptr);
}

void MyHoldsDialog::cancelHold()
{
    const QTreeWidgetItem* current = m_ui->holdList->currentItem();
    if (!current || m_cancel.isBusy())
        return;
    const QString number = current->text(Number);
    if (!FormChecks::confirm(this,
                             QStringLiteral("确定要取消《%1》（书号 %2）的预约吗？取消后排队位置不再保留。")
                                 .arg(current->text(Title), number)))
        return;
    m_cancel.start(CancelHoldQuery{{number, m_userId}});
}

void MyHoldsDialog::cancelled(const QList<QStringList>& frames)
{
    const QStringList frame = frames.value(0);
    if (frame.isEmpty())
        return; // a server that does not know the request: nothing changed
    if (frame.value(0) != Reply::CancelHoldSuccessfully) {
        Refusals::report(this, frame);
        // The hold may have lapsed meanwhile (NO_SUCH_HOLD): the list is read again, unless the login is gone.
        if (!LoginSession::instance().isActive())
            return;
    }
    refresh();
}
