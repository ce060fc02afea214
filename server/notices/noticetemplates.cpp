#include "noticetemplates.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

// Resources of a static library are registered by hand; Q_INIT_RESOURCE must sit outside namespaces.
static void initTemplateResources()
{
    Q_INIT_RESOURCE(templates);
}

namespace {

// A template is a page of text; anything larger is not one.
constexpr qint64 MaxTemplateBytes = 64 * 1024;

QString readText(const QString& path)
{
    QFile file(path);
    if (file.size() > MaxTemplateBytes || !file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

NoticeTemplates::NoticeTemplates(const QString& folder)
{
    initTemplateResources();
    for (const NoticeKind kind : {NoticeKind::DueSoon, NoticeKind::Overdue, NoticeKind::HoldReady}) {
        QString text;
        if (!folder.isEmpty()) {
            const QString path = QDir(folder).absoluteFilePath(fileName(kind));
            text = readText(path);
            if (!text.trimmed().isEmpty())
                m_origins[int(kind)] = path;
        }
        if (text.trimmed().isEmpty()) {
            text = readText(QStringLiteral(":/notices/templates/") + fileName(kind));
            m_origins[int(kind)] = QStringLiteral("built-in");
        }
        m_texts[int(kind)] = text;
    }
}

QString NoticeTemplates::fileName(NoticeKind kind)
{
    switch (kind) {
    case NoticeKind::DueSoon:
        return QStringLiteral("due-soon.txt");
    case NoticeKind::Overdue:
        return QStringLiteral("overdue.txt");
    case NoticeKind::HoldReady:
        return QStringLiteral("hold-ready.txt");
    }
    return QString();
}

QString NoticeTemplates::origin(NoticeKind kind) const
{
    return m_origins.value(int(kind));
}

NoticeTemplates::Text NoticeTemplates::render(NoticeKind kind, const QHash<QString, QString>& values) const
{
    static const QRegularExpression placeholder(QStringLiteral("\\{([A-Za-z]+)\\}"));
    QString text = m_texts.value(int(kind));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (text.startsWith(QChar(0xfeff)))
        text.remove(0, 1);
    QString filled;
    qsizetype from = 0;
    for (QRegularExpressionMatchIterator it = placeholder.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        filled += text.mid(from, match.capturedStart() - from);
        const auto value = values.constFind(match.captured(1));
        filled += value != values.constEnd() ? *value : match.captured(0);
        from = match.capturedEnd();
    }
    filled += text.mid(from);
    // The first line is the subject; the body starts after the empty line below it.
    const qsizetype end = filled.indexOf(QLatin1Char('\n'));
    Text result;
    result.subject = (end < 0 ? filled : filled.left(end)).trimmed();
    QString body = end < 0 ? QString() : filled.mid(end + 1);
    while (body.startsWith(QLatin1Char('\n')))
        body.remove(0, 1);
    result.body = body;
    return result;
}
