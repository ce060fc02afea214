#include "labelprintdialog.h"

#include "accountwindow.h"
#include "addedcopies.h"
#include "messages.h"
#include "ui_labelsourceform.h"

#include <QRegularExpression>

LabelPrintDialog::LabelPrintDialog(QWidget* parent, const QList<LabelItem>& selection, Source source)
    : SheetPrintDialog(parent, {LabelTemplate::Kind::Book, LabelTemplate::Kind::Spine})
    , m_source(std::make_unique<Ui::LabelSourceForm>())
    , m_selection(selection)
    , m_lookup(this, Reply::BookRowSize)
{
    auto* form = new QWidget(this);
    m_source->setupUi(form);
    sourceLayout()->addWidget(form);
    AccountWindow::mark(this);
    m_source->selectionRadio->setText(QStringLiteral("搜索结果中选中的书（%1 本）").arg(selection.size()));
    m_source->addedRadio->setText(QStringLiteral("刚添加的书（%1 本）").arg(AddedCopies::all().size()));
    for (QRadioButton* radio : {m_source->selectionRadio, m_source->addedRadio, m_source->rangeRadio})
        connect(radio, &QRadioButton::toggled, this, &LabelPrintDialog::chooseSource);
    connect(m_source->lookUpButton, &QPushButton::clicked, this, &LabelPrintDialog::lookUpRange);
    connect(m_source->toEdit, &QLineEdit::returnPressed, this, &LabelPrintDialog::lookUpRange);
    connect(&m_lookup, &RequestExchange::finished, this, &LabelPrintDialog::lookedUp);
    switch (source) {
    case Source::Selection:
        m_source->selectionRadio->setChecked(true);
        break;
    case Source::Added:
        m_source->addedRadio->setChecked(true);
        break;
    case Source::Range:
        m_source->rangeRadio->setChecked(true);
        break;
    }
    chooseSource();
    show();
}

LabelPrintDialog::~LabelPrintDialog() = default;

void LabelPrintDialog::chooseSource()
{
    const bool range = m_source->rangeRadio->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{m_source->fromEdit, m_source->toEdit, m_source->lookUpButton})
        w->setEnabled(range);
    if (m_source->selectionRadio->isChecked())
        setItems(m_selection);
    else if (m_source->addedRadio->isChecked())
        setItems(AddedCopies::all());
    else
        setItems(m_range);
}

QStringList LabelPrintDialog::expandRange(const QString& from, const QString& to, QString* error)
{
    static const QRegularExpression lastDigits(QStringLiteral("^(.*?)(\\d+)$"));
    const QRegularExpressionMatch a = lastDigits.match(from.trimmed());
    const QRegularExpressionMatch b = lastDigits.match(to.trimmed());
    if (!a.hasMatch() || !b.hasMatch() || a.captured(1) != b.captured(1)) {
        *error = QStringLiteral("两个书号应只在最后的数字上不同（例如 I242.4/0001-1 到 I242.4/0001-30）");
        return {};
    }
    const QString digits = a.captured(2);
    bool okFrom = false;
    bool okTo = false;
    const qlonglong first = digits.toLongLong(&okFrom);
    const qlonglong last = b.captured(2).toLongLong(&okTo);
    if (!okFrom || !okTo || last < first) {
        *error = QStringLiteral("范围的终点应不小于起点");
        return {};
    }
    if (last - first + 1 > MaxRange) {
        *error = QStringLiteral("一次最多 %1 个书号").arg(MaxRange);
        return {};
    }
    const int width = digits.startsWith(QLatin1Char('0')) ? int(digits.size()) : 0;
    QStringList numbers;
    for (qlonglong n = first; n <= last; ++n)
        numbers << a.captured(1) + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
    return numbers;
}

void LabelPrintDialog::lookUpRange()
{
    if (m_lookup.isBusy())
        return;
    QString error;
    m_pending = expandRange(m_source->fromEdit->text(), m_source->toEdit->text(), &error);
    m_range.clear();
    m_missing.clear();
    setItems(m_range);
    m_source->rangeLabel->setText(error);
    lookUpNext();
}

void LabelPrintDialog::lookUpNext()
{
    if (m_pending.isEmpty()) {
        QString text = QStringLiteral("找到 %1 本").arg(m_range.size());
        if (!m_missing.isEmpty())
            text += QStringLiteral("；目录中没有：") + m_missing.join(QStringLiteral("、"));
        if (!m_range.isEmpty() || !m_missing.isEmpty())
            m_source->rangeLabel->setText(text);
        setItems(m_range);
        return;
    }
    m_asked = m_pending.takeFirst();
    m_source->rangeLabel->setText(QStringLiteral("正在查找 %1 …").arg(m_asked));
    m_lookup.start(BookQuery{QString(), QString(), m_asked, QString(), QString(), QString(), QString()});
}

void LabelPrintDialog::lookedUp(const QList<QStringList>& frames)
{
    if (m_lookup.wasRefused()) {
        m_pending.clear();
        m_source->rangeLabel->setText(QStringLiteral("查找被拒绝"));
        return;
    }
    bool found = false;
    for (const QStringList& frame : frames) {
        const std::optional<QStringList> row = Reply::rowOf(frame, Reply::BookRowSize);
        if (!row)
            continue;
        const BookRecord book = BookRecord::from(*row);
        // The search also finds the number written with other hyphens or case; the label carries
        // the number as the catalogue holds it.
        if (!found) {
            m_range << LabelItem::book(book.number, book.name, book.type);
            found = true;
        }
    }
    if (!found)
        m_missing << m_asked;
    lookUpNext();
}
