#pragma once

#include "requestexchange.h"
#include "sheetprintdialog.h"

#include <memory>

namespace Ui {
class LabelSourceForm;
}

// 标签打印: book and spine labels for the copies selected in the search results, the copies added
// since the client started, or a range of book numbers looked up in the catalogue one by one.
class LabelPrintDialog : public SheetPrintDialog
{
    Q_OBJECT

public:
    enum class Source { Selection, Added, Range };

    LabelPrintDialog(QWidget* parent, const QList<LabelItem>& selection, Source source = Source::Selection);
    ~LabelPrintDialog() override;

    // The book numbers from `from` to `to`: both the same but for a last group of digits (kept at
    // the width of `from` when it has leading zeros). Empty, with `error` set, when they are not
    // such a pair or the range holds more than MaxRange numbers.
    static constexpr int MaxRange = 500;
    static QStringList expandRange(const QString& from, const QString& to, QString* error);

private:
    void chooseSource();
    void lookUpRange();
    void lookUpNext();
    void lookedUp(const QList<QStringList>& frames);

    std::unique_ptr<Ui::LabelSourceForm> m_source;
    QList<LabelItem> m_selection;
    QList<LabelItem> m_range;
    QStringList m_pending; // range numbers still to look up
    QStringList m_missing;
    QString m_asked;
    RequestExchange m_lookup;
};
