#pragma once

#include <QList>
#include <QPageSize>
#include <QRectF>
#include <QString>
#include <QStringList>

// One kind of label sheet: the page, the grid of labels on it and what each label shows. Every
// length is in millimetres from the top left corner of the paper; nothing is scaled to fit.
struct LabelTemplate {
    enum class Kind { Book, Spine, Card };

    // A printer that shifts the whole sheet is corrected by at most this much either way.
    static constexpr double MaxOffset = 10.0;

    QString name;
    QString description;
    Kind kind = Kind::Book;
    QPageSize page{QPageSize::A4};
    int columns = 1;
    int rows = 1;
    double labelWidth = 0;
    double labelHeight = 0;
    double leftMargin = 0;
    double topMargin = 0;
    double horizontalPitch = 0; // from the left edge of one label to the left edge of the next
    double verticalPitch = 0;
    double offsetX = 0; // the printer's drift, added to every label
    double offsetY = 0;

    int labelsPerPage() const { return columns * rows; }
    // Label `slot` (0-based, row by row) on a page, offsets included.
    QRectF labelRect(int slot) const;
    // Why the grid cannot be printed as given (labels overlapping or leaving the page, offsets beyond
    // MaxOffset); empty when it can.
    QString problem() const;
};

// The built-in templates and the library's own from labels.ini (beside client.ini). A section of
// labels.ini defines a template of that name: `base` copies a built-in or an earlier section, and the
// keys given replace its values. A section named like a built-in corrects that built-in (typically
// just offsetX and offsetY for one printer).
class LabelTemplates
{
public:
    static QString defaultPath(); // "labels.ini"

    static QList<LabelTemplate> builtIn();
    // The built-in ones with labels.ini applied; a section that cannot be used is left out and said
    // in `problems` (one line each).
    static QList<LabelTemplate> load(const QString& path, QStringList* problems = nullptr);
    // The template named `name` in `templates`, or nullptr.
    static const LabelTemplate* find(const QList<LabelTemplate>& templates, const QString& name);

    static QString kindName(LabelTemplate::Kind kind);
};
