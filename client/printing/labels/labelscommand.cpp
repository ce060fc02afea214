#include "labelscommand.h"

#include "labelsheet.h"
#include "printsettings.h"

#include <QCommandLineParser>
#include <QFile>

int runLabelsCommand(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Prints barcode labels, spine labels or reader cards to a PDF."));
    parser.addHelpOption();
    const QCommandLineOption templateOption(QStringLiteral("template"), QStringLiteral("Template name (see --list)."),
                                            QStringLiteral("NAME"));
    const QCommandLineOption numbersOption(
        QStringLiteral("numbers"),
        QStringLiteral(
            "File with one book number, or reader:ID, per line (title and type, or name and level, may follow after tabs)."),
        QStringLiteral("FILE"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("PDF file to write."),
                                       QStringLiteral("FILE.pdf"));
    const QCommandLineOption startOption(QStringLiteral("start"),
                                         QStringLiteral("First label to use on the first sheet (1 = top left)."),
                                         QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption eanOption(QStringLiteral("ean13"),
                                       QStringLiteral("Book numbers that are ISBNs as EAN-13."));
    const QCommandLineOption libraryOption(
        QStringLiteral("library"),
        QStringLiteral("Library name on reader cards (default: [printing] libraryName of client.ini)."),
        QStringLiteral("NAME"));
    const QCommandLineOption templatesOption(QStringLiteral("templates"),
                                             QStringLiteral("Template file (default: labels.ini beside client.ini)."),
                                             QStringLiteral("FILE"));
    const QCommandLineOption listOption(QStringLiteral("list"), QStringLiteral("List the templates and exit."));
    parser.addOptions(
        {templateOption, numbersOption, outOption, startOption, eanOption, libraryOption, templatesOption, listOption});
    if (!parser.parse(arguments)) {
        err << parser.errorText() << Qt::endl;
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        out << parser.helpText();
        return 0;
    }
    const PrintSettings settings;
    QStringList templateProblems;
    const QList<LabelTemplate> templates = LabelTemplates::load(
        parser.isSet(templatesOption) ? parser.value(templatesOption) : settings.labelsPath(), &templateProblems);
    for (const QString& problem : templateProblems)
        err << "labels.ini " << problem << Qt::endl;
    if (parser.isSet(listOption)) {
        for (const LabelTemplate& t : templates)
            out << t.name << '\t' << LabelTemplates::kindName(t.kind) << '\t' << t.columns << 'x' << t.rows << '\t'
                << t.description << Qt::endl;
        return 0;
    }
    if (!parser.isSet(templateOption) || !parser.isSet(numbersOption) || !parser.isSet(outOption)) {
        err << "labels: --template, --numbers and --out are needed (see --help)" << Qt::endl;
        return 2;
    }
    const LabelTemplate* sheet = LabelTemplates::find(templates, parser.value(templateOption));
    if (!sheet) {
        err << "labels: no template " << parser.value(templateOption) << " (see --list)" << Qt::endl;
        return 2;
    }
    bool startOk = false;
    const int start = parser.value(startOption).toInt(&startOk);
    if (!startOk) {
        err << "labels: --start takes a number" << Qt::endl;
        return 2;
    }
    QFile numbers(parser.value(numbersOption));
    if (!numbers.open(QIODevice::ReadOnly)) {
        err << "labels: cannot read " << numbers.fileName() << ": " << numbers.errorString() << Qt::endl;
        return 1;
    }
    QList<int> lines;
    const QList<LabelItem> items = LabelItem::parseList(QString::fromUtf8(numbers.readAll()), &lines);
    if (items.isEmpty()) {
        err << "labels: " << numbers.fileName() << " holds no numbers" << Qt::endl;
        return 1;
    }
    LabelOptions options;
    options.libraryName = parser.isSet(libraryOption) ? parser.value(libraryOption) : settings.libraryName();
    options.isbnAsEan13 = parser.isSet(eanOption);
    const LabelSheet labels(*sheet, options);
    // All or nothing: a sheet with one label missing would shift every label after it.
    const QStringList problems = labels.problems(items, start, lines);
    if (!problems.isEmpty()) {
        for (const QString& problem : problems)
            err << "labels: " << problem << Qt::endl;
        err << "labels: nothing written" << Qt::endl;
        return 1;
    }
    const QString error = labels.job(items, start).writePdf(parser.value(outOption));
    if (!error.isEmpty()) {
        err << "labels: " << error << Qt::endl;
        return 1;
    }
    const int pages = labels.place(items.size(), start).constLast().page + 1;
    out << items.size() << " labels on " << pages << " sheet(s) of " << sheet->name << " written to "
        << parser.value(outOption) << Qt::endl;
    return 0;
}
