#include "dialog.h"

#include "logger.h"
#include "serverruntime.h"
#include "ui_dialog.h"

namespace {
constexpr qsizetype MaxLinesPerRefresh = 100;
} // namespace

Dialog::Dialog(QWidget* parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::Dialog>())
    , m_logger(std::make_unique<Logger>())
    , m_runtime(std::make_unique<ServerRuntime>(m_logger.get()))
{
    m_ui->setupUi(this);
    // The log, the connection count and the stored counts are pulled a few times a second rather than pushed per
    // request, so that a busy server does not flood the window's event queue.
    connect(&m_refreshTimer, &QTimer::timeout, this, &Dialog::refresh);
    m_refreshTimer.start(250);
}

Dialog::~Dialog()
{
    m_refreshTimer.stop();
    m_runtime.reset(); // ends every connection before the log goes
}

bool Dialog::start()
{
    const bool started = m_runtime->start();
    const QString tls = m_runtime->tlsText();
    m_ui->addressLabel->setText(tls.isEmpty() ? m_runtime->listeningText()
                                              : m_runtime->listeningText() + tr(", TLS ") + tls);
    m_ui->databaseLabel->setText(m_runtime->databaseText());
    refresh();
    return started;
}

void Dialog::refresh()
{
    // Laying out text is the costliest thing the window does; under load it shows the latest lines
    // and says how many it passed over (standard output has them all).
    QStringList lines = m_logger->takeForDisplay();
    if (lines.size() > MaxLinesPerRefresh) {
        const qsizetype skipped = lines.size() - MaxLinesPerRefresh;
        lines = lines.mid(skipped);
        lines.prepend(tr("... %1 lines not shown").arg(skipped));
    }
    if (!lines.isEmpty())
        m_ui->logView->appendPlainText(lines.join(QLatin1Char('\n')));
    m_ui->connectionsLabel->setText(QString::number(m_runtime->activeConnections()));
    refreshCounts();
}

void Dialog::refreshCounts()
{
    // Loans fall overdue and pick-up windows end with time alone, so the counts are also read once a
    // minute when nothing changed.
    const quint64 changes = m_runtime->changeCount();
    if (changes == m_countedChanges && m_countsAge.isValid() && m_countsAge.elapsed() < 60000)
        return;
    m_countedChanges = changes;
    m_countsAge.start();
    const CatalogueCounts c = m_runtime->counts();
    m_ui->countsLabel->setText(tr("%1 books, %2 on loan, %3 accounts, %4 unconfirmed, %5 overdue, %6 holds waiting")
                                   .arg(c.books)
                                   .arg(c.loans)
                                   .arg(c.accounts)
                                   .arg(c.unconfirmed)
                                   .arg(c.overdue)
                                   .arg(c.holds));
}
