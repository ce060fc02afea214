#include "labeltemplate.h"

#include <QRegularExpression>
#include <QSettings>

#include <cmath>

QRectF LabelTemplate::labelRect(int slot) const
{
    const int column = slot % columns;
    const int row = slot / columns;
    return QRectF(leftMargin + column * horizontalPitch + offsetX, topMargin + row * verticalPitch + offsetY,
                  labelWidth, labelHeight);
}

QString LabelTemplate::problem() const
{
    if (columns < 1 || rows < 1 || columns > 50 || rows > 100)
        return QStringLiteral("列数或行数不对");
    if (labelWidth <= 0 || labelHeight <= 0)
        return QStringLiteral("标签宽度和高度必须大于0");
    if ((columns > 1 && horizontalPitch < labelWidth) || (rows > 1 && verticalPitch < labelHeight))
        return QStringLiteral("标签间距小于标签尺寸，标签会重叠");
    if (std::abs(offsetX) > MaxOffset || std::abs(offsetY) > MaxOffset)
        return QStringLiteral("偏移量不能超过±10毫米");
    if (leftMargin < 0 || topMargin < 0)
        return QStringLiteral("边距不能为负");
    const QSizeF paper = page.size(QPageSize::Millimeter);
    const QRectF last = labelRect(labelsPerPage() - 1).translated(-offsetX, -offsetY);
    // A hundredth of a millimetre of slack: sheets are specified to the tenth.
    if (last.right() > paper.width() + 0.01 || last.bottom() > paper.height() + 0.01)
        return QStringLiteral("标签超出纸张");
    return QString();
}

namespace {

LabelTemplate grid(const char* name, const QString& description, LabelTemplate::Kind kind, int columns, int rows,
                   double width, double height, double left, double top, double hPitch, double vPitch)
{
    LabelTemplate t;
    t.name = QLatin1String(name);
    t.description = description;
    t.kind = kind;
    t.columns = columns;
    t.rows = rows;
    t.labelWidth = width;
    t.labelHeight = height;
    t.leftMargin = left;
    t.topMargin = top;
    t.horizontalPitch = hPitch;
    t.verticalPitch = vPitch;
    return t;
}

// "A4", "A5", "Letter"... or "WIDTHxHEIGHT" in millimetres.
bool parsePage(const QString& text, QPageSize* page)
{
    static const QRegularExpression custom(
        QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)\\s*[xX×]\\s*(\\d+(?:\\.\\d+)?)\\s*$"));
    const QRegularExpressionMatch m = custom.match(text);
    if (m.hasMatch()) {
        const QSizeF size(m.captured(1).toDouble(), m.captured(2).toDouble());
        if (size.width() < 10 || size.height() < 10 || size.width() > 1000 || size.height() > 2000)
            return false;
        *page = QPageSize(size, QPageSize::Millimeter, QString(), QPageSize::ExactMatch);
        return true;
    }
    for (int id = 0; id < QPageSize::LastPageSize; ++id) {
        const auto pageId = static_cast<QPageSize::PageSizeId>(id);
        if (QPageSize::key(pageId).compare(text.trimmed(), Qt::CaseInsensitive) == 0) {
            *page = QPageSize(pageId);
            return true;
        }
    }
    return false;
}

bool parseKind(const QString& text, LabelTemplate::Kind* kind)
{
    for (const LabelTemplate::Kind k :
         {LabelTemplate::Kind::Book, LabelTemplate::Kind::Spine, LabelTemplate::Kind::Card}) {
        if (LabelTemplates::kindName(k).compare(text.trimmed(), Qt::CaseInsensitive) == 0) {
            *kind = k;
            return true;
        }
    }
    return false;
}

LabelTemplate readSection(QSettings& ini, const QString& section, const QList<LabelTemplate>& templates, QString* error)
{
    const LabelTemplate* existing = LabelTemplates::find(templates, section);
    const QString baseName = ini.value(QStringLiteral("base")).toString();
    LabelTemplate t;
    if (!baseName.isEmpty()) {
        const LabelTemplate* base = LabelTemplates::find(templates, baseName);
        if (!base) {
            *error = QStringLiteral("没有名为 %1 的模板").arg(baseName);
            return t;
        }
        t = *base;
    } else if (existing) {
        t = *existing;
    }
    t.name = section;
    t.description =
        ini.value(QStringLiteral("description"), t.description.isEmpty() ? section : t.description).toString();
    if (ini.contains(QStringLiteral("kind")) && !parseKind(ini.value(QStringLiteral("kind")).toString(), &t.kind))
        *error = QStringLiteral("kind 应为 book、spine 或 card");
    if (ini.contains(QStringLiteral("page")) && !parsePage(ini.value(QStringLiteral("page")).toString(), &t.page))
        *error = QStringLiteral("page 应为 A4、A5、Letter 或 宽x高（毫米）");
    const std::pair<const char*, int*> counts[] = {{"columns", &t.columns}, {"rows", &t.rows}};
    for (const auto& [key, field] : counts) {
        const QString k = QLatin1String(key);
        if (!ini.contains(k))
            continue;
        bool ok = false;
        const int value = ini.value(k).toString().toInt(&ok);
        if (!ok)
            *error = QStringLiteral("%1 不是整数").arg(k);
        else
            *field = value;
    }
    const std::pair<const char*, double*> lengths[] = {{"labelWidth", &t.labelWidth},
                                                       {"labelHeight", &t.labelHeight},
                                                       {"leftMargin", &t.leftMargin},
                                                       {"topMargin", &t.topMargin},
                                                       {"horizontalPitch", &t.horizontalPitch},
                                                       {"verticalPitch", &t.verticalPitch},
                                                       {"offsetX", &t.offsetX},
                                                       {"offsetY", &t.offsetY}};
    for (const auto& [key, field] : lengths) {
        const QString k = QLatin1String(key);
        if (!ini.contains(k))
            continue;
        bool ok = false;
        const double value = ini.value(k).toString().toDouble(&ok);
        if (!ok || !std::isfinite(value))
            *error = QStringLiteral("%1 不是数（毫米）").arg(k);
        else
            *field = value;
    }
    // A single column or row needs no pitch; the label's own size stands in for it.
    if (t.horizontalPitch <= 0)
        t.horizontalPitch = t.labelWidth;
    if (t.verticalPitch <= 0)
        t.verticalPitch = t.labelHeight;
    if (error->isEmpty())
        *error = t.problem();
    return t;
}

} // namespace

QString LabelTemplates::defaultPath()
{
    return QStringLiteral("labels.ini");
}

QString LabelTemplates::kindName(LabelTemplate::Kind kind)
{
    switch (kind) {
    case LabelTemplate::Kind::Book:
        return QStringLiteral("book");
    case LabelTemplate::Kind::Spine:
        return QStringLiteral("spine");
    case LabelTemplate::Kind::Card:
        return QStringLiteral("card");
    }
    return QString();
}

QList<LabelTemplate> LabelTemplates::builtIn()
{
    using K = LabelTemplate::Kind;
    return {
        grid("a4-3x8", QStringLiteral("A4 3×8 书标 70×37 mm"), K::Book, 3, 8, 70, 37, 0, 0.5, 70, 37),
        grid("a4-4x10", QStringLiteral("A4 4×10 书标 48.5×25.4 mm"), K::Book, 4, 10, 48.5, 25.4, 8, 21.5, 48.5, 25.4),
        grid("a4-5x13", QStringLiteral("A4 5×13 书标 38.1×21.2 mm"), K::Book, 5, 13, 38.1, 21.2, 4.75, 10.7, 40.6,
             21.2),
        grid("spine-25x38", QStringLiteral("A4 书脊标签 25×38 mm"), K::Spine, 7, 7, 25, 38, 11.5, 9.5, 27, 40),
        grid("card-id1", QStringLiteral("A4 读者证 85.6×54 mm (ID-1)"), K::Card, 2, 5, 85.6, 54, 17.2, 7.5, 90, 57),
    };
}

const LabelTemplate* LabelTemplates::find(const QList<LabelTemplate>& templates, const QString& name)
{
    for (const LabelTemplate& t : templates) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

QList<LabelTemplate> LabelTemplates::load(const QString& path, QStringList* problems)
{
    QList<LabelTemplate> templates = builtIn();
    QSettings ini(path, QSettings::IniFormat);
    auto say = [problems](const QString& line) {
        if (problems)
            problems->append(line);
    };
    // QSettings lists sections in sorted order, so a section based on another one waits for it.
    QStringList pending = ini.childGroups();
    bool progress = true;
    while (!pending.isEmpty() && progress) {
        progress = false;
        for (const QString& section : QStringList(pending)) {
            ini.beginGroup(section);
            const QString baseName = ini.value(QStringLiteral("base")).toString();
            ini.endGroup();
            if (!baseName.isEmpty() && baseName != section && pending.contains(baseName))
                continue;
            pending.removeOne(section);
            progress = true;
            ini.beginGroup(section);
            QString error;
            const LabelTemplate t = readSection(ini, section, templates, &error);
            ini.endGroup();
            const auto existing = std::find_if(templates.begin(), templates.end(),
                                               [&](const LabelTemplate& e) { return e.name == section; });
            if (!error.isEmpty()) {
                // A correction that cannot be used must not leave the sheet printing uncorrected.
                if (existing != templates.end())
                    templates.erase(existing);
                say(QStringLiteral("[%1]: %2").arg(section, error));
            } else if (existing != templates.end()) {
                *existing = t;
            } else {
                templates.append(t);
            }
        }
    }
    for (const QString& section : pending)
        say(QStringLiteral("[%1]: base 互相引用").arg(section));
    return templates;
}
