#include "labeltemplate.h"
#include "slip.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// Sheets as they come out of a printer: the `labels` command writes a PDF, pdftoppm turns each page
// into a 300 dpi image and zbarimg reads the barcodes back. Every label must decode to its number
// from inside its own rectangle on the paper (cropped 1 mm larger), nothing may be inked outside the
// labels used (no label skipped, doubled or shifted, no text running over its label), and refused
// numbers must stop the whole run with a message naming their line.
class TestLabelPrinting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sheets_data();
    void sheets();
    void refusals_data();
    void refusals();
    void slip_data();
    void slip();

private:
    struct Run {
        int exitCode = -1;
        QString out;
        QString err;
    };
    Run labels(const QStringList& arguments);
    QList<QImage> pages(const QString& pdf);
    // The decoded texts of each image, in the order given.
    QList<QStringList> decode(const QStringList& images);

    QTemporaryDir m_dir;
};

namespace {

constexpr double Dpi = 300;
double px(double mm)
{
    return mm * Dpi / 25.4;
}

QRect pixels(const QRectF& mm)
{
    return QRectF(px(mm.left()), px(mm.top()), px(mm.width()), px(mm.height())).toAlignedRect();
}

bool inked(const QImage& page, int x, int y)
{
    return qGray(page.pixel(x, y)) < 128;
}

QString runTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000))
        return QStringLiteral("<%1 did not finish>").arg(program);
    if (exitCode)
        *exitCode = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

void TestLabelPrinting::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char* tool : {"pdftoppm", "zbarimg", "pdftotext", "pdfinfo"})
        QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), tool);
}

TestLabelPrinting::Run TestLabelPrinting::labels(const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/labels"), arguments);
    Run run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QList<QImage> TestLabelPrinting::pages(const QString& pdf)
{
    const QString prefix = m_dir.filePath(QStringLiteral("page"));
    for (const QFileInfo& old : QDir(m_dir.path()).entryInfoList({QStringLiteral("page-*.pgm")}))
        QFile::remove(old.filePath());
    runTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-gray"), pdf, prefix});
    QList<QImage> out;
    for (const QFileInfo& file :
         QDir(m_dir.path()).entryInfoList({QStringLiteral("page-*.pgm")}, QDir::Files, QDir::Name))
        out << QImage(file.filePath()).convertToFormat(QImage::Format_Grayscale8);
    return out;
}

QList<QStringList> TestLabelPrinting::decode(const QStringList& images)
{
    QList<QStringList> texts(images.size());
    const QString xml = runTool(QStringLiteral("zbarimg"), QStringList{QStringLiteral("--xml")} + images);
    QXmlStreamReader reader(xml);
    int current = -1;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        if (reader.name() == QLatin1String("source"))
            current = images.indexOf(reader.attributes().value(QLatin1String("href")).toString());
        else if (reader.name() == QLatin1String("data") && current >= 0)
            texts[current] << reader.readElementText();
    }
    return texts;
}

void TestLabelPrinting::sheets_data()
{
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<QStringList>("lines"); // the numbers file
    QTest::addColumn<QStringList>("expected"); // what each label's barcode reads; empty: no barcode
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("labelsIni");
    QTest::addColumn<int>("sheetCount");
    QTest::addColumn<int>("elided"); // texts that must end in "…" to fit

    auto books = [](int count, const QString& title) {
        QStringList lines;
        for (int i = 1; i <= count; ++i)
            lines << QStringLiteral("I247.5/%1-%2\t%3\t小说").arg(i / 3 + 100).arg(i % 3 + 1).arg(title.arg(i));
        return lines;
    };
    auto numbersOf = [](const QStringList& lines) {
        QStringList numbers;
        for (const QString& line : lines)
            numbers << line.section(QLatin1Char('\t'), 0, 0).remove(QStringLiteral("reader:"));
        return numbers;
    };
    const QString longTitle =
        QStringLiteral("中华人民共和国图书馆分类法第五版详解与大学图书馆编目实务教程（修订本）第%1卷");

    const QStringList overflow = books(27, QStringLiteral("Book %1"));
    QTest::newRow("A4 3x8: a full sheet and three on the next")
        << "a4-3x8" << overflow << numbersOf(overflow) << 1 << QStringList() << QString() << 2 << 0;
    const QStringList partly = books(40, QStringLiteral("书 %1"));
    QTest::newRow("A4 4x10: partly used sheet from label 7")
        << "a4-4x10" << partly << numbersOf(partly) << 7 << QStringList() << QString() << 2 << 0;
    const QStringList chinese = books(12, longTitle);
    QTest::newRow("A4 5x13: long Chinese titles stay inside, from label 60")
        << "a4-5x13" << chinese << numbersOf(chinese) << 60 << QStringList() << QString() << 2 << 12;
    const QStringList shifted = books(12, QStringLiteral("T%1"));
    QTest::newRow("labels.ini shifts a sheet for a printer's drift")
        << "a4-4x10" << shifted << numbersOf(shifted) << 3 << QStringList()
        << QStringLiteral("[a4-4x10]\noffsetX=2.5\noffsetY=-3\n") << 1 << 0;
    const QStringList spines = books(9, longTitle);
    QTest::newRow("spine labels: call number and type, each on its own label")
        << "spine-25x38" << spines << QStringList() << 46 << QStringList() << QString() << 2 << 0;
    QStringList readers;
    for (int i = 1; i <= 12; ++i)
        readers
            << QStringLiteral("reader:2024%1\t欧阳%2\t本科生").arg(i, 4, 10, QLatin1Char('0')).arg(longTitle.arg(i));
    QTest::newRow("reader cards: ID-1 with the ID's barcode")
        << "card-id1" << readers << numbersOf(readers) << 1
        << QStringList{QStringLiteral("--library"), QStringLiteral("第一中学图书馆")} << QString() << 2 << 12;
    QTest::newRow("EAN-13 from ISBN-13 and ISBN-10, Code 128 for the rest")
        << "a4-3x8"
        << QStringList{QStringLiteral("978-7-02-000220-7\t红楼梦"), QStringLiteral("702000220X\t红楼梦"),
                       QStringLiteral("I242.4/0001-1\t红楼梦")}
        << QStringList{QStringLiteral("9787020002207"), QStringLiteral("9787020002207"),
                       QStringLiteral("I242.4/0001-1")}
        << 1 << QStringList{QStringLiteral("--ean13")} << QString() << 1 << 0;
}

void TestLabelPrinting::sheets()
{
    QFETCH(QString, templateName);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    QFETCH(int, start);
    QFETCH(QStringList, options);
    QFETCH(QString, labelsIni);
    QFETCH(int, sheetCount);
    QFETCH(int, elided);

    const QString ini = m_dir.filePath(QStringLiteral("labels.ini"));
    QFile::remove(ini);
    QFile iniFile(ini);
    QVERIFY(iniFile.open(QIODevice::WriteOnly));
    iniFile.write(labelsIni.toUtf8());
    iniFile.close();
    const LabelTemplate* found = nullptr;
    const QList<LabelTemplate> templates = LabelTemplates::load(ini);
    QVERIFY(found = LabelTemplates::find(templates, templateName));
    const LabelTemplate sheet = *found;

    QFile numbers(m_dir.filePath(QStringLiteral("numbers.txt")));
    QVERIFY(numbers.open(QIODevice::WriteOnly));
    numbers.write(lines.join(QLatin1Char('\n')).toUtf8());
    numbers.close();
    const QString pdf = m_dir.filePath(QStringLiteral("sheet.pdf"));
    const Run run = labels(QStringList{QStringLiteral("--template"), templateName, QStringLiteral("--numbers"),
                                       numbers.fileName(), QStringLiteral("--out"), pdf, QStringLiteral("--start"),
                                       QString::number(start), QStringLiteral("--templates"), ini}
                           + options);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));

    const QList<QImage> images = pages(pdf);
    QCOMPARE(images.size(), sheetCount);
    const QSize a4(qRound(px(210)), qRound(px(297)));
    QVERIFY(qAbs(images.first().width() - a4.width()) <= 1 && qAbs(images.first().height() - a4.height()) <= 1);

    // Where each label must be, and its barcode cropped from there with a millimetre to spare.
    QList<QList<QRect>> usedOnPage(images.size());
    QStringList crops;
    for (int i = 0; i < lines.size(); ++i) {
        const int position = start - 1 + i;
        const int page = position / sheet.labelsPerPage();
        const QRectF label = sheet.labelRect(position % sheet.labelsPerPage());
        QVERIFY(page < images.size());
        const QRect inner = pixels(label.adjusted(1, 1, -1, -1));
        usedOnPage[page] << inner;
        // Something is printed on every label, barcode or not.
        bool any = false;
        for (int y = inner.top(); y <= inner.bottom() && !any; ++y)
            for (int x = inner.left(); x <= inner.right() && !any; ++x)
                any = inked(images.at(page), x, y);
        QVERIFY2(any, qPrintable(QStringLiteral("label %1 is blank").arg(i + 1)));
        if (expected.isEmpty())
            continue;
        const QString crop = m_dir.filePath(QStringLiteral("label-%1.png").arg(i));
        QVERIFY(images.at(page).copy(pixels(label.adjusted(-1, -1, 1, 1))).save(crop));
        crops << crop;
    }
    if (!expected.isEmpty()) {
        const QList<QStringList> read = decode(crops);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(read.at(i), QStringList{expected.at(i)});
    }

    // Every text as the PDF places it lies inside a label in use: long texts are shortened, not
    // clipped or run over the edge.
    QXmlStreamReader words(runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
    int page = -1;
    int ellipses = 0;
    while (!words.atEnd()) {
        words.readNext();
        if (!words.isStartElement())
            continue;
        if (words.name() == QLatin1String("page")) {
            ++page;
            continue;
        }
        if (words.name() != QLatin1String("word") || page < 0 || page >= images.size())
            continue;
        auto mm = [&](const char* name) {
            return words.attributes().value(QLatin1String(name)).toDouble() * 25.4 / 72;
        };
        const QRectF box(QPointF(mm("xMin"), mm("yMin")), QPointF(mm("xMax"), mm("yMax")));
        const QString word = words.readElementText();
        ellipses += word.endsWith(QChar(0x2026)) ? 1 : 0;
        const QRect boxPixels = pixels(box.adjusted(0.3, 0.3, -0.3, -0.3));
        QVERIFY2(
            std::any_of(usedOnPage[page].begin(), usedOnPage[page].end(),
                        [&](const QRect& r) { return r.adjusted(-px(1), -px(1), px(1), px(1)).contains(boxPixels); }),
            qPrintable(QStringLiteral("“%1” leaves its label on page %2").arg(word).arg(page + 1)));
    }
    QCOMPARE(ellipses, elided);

    // No ink outside the labels in use: unused labels stay blank, no text runs over its label's
    // edge, nothing lands between labels. Labels are checked a millimetre inside their edges, within
    // the padding every label keeps.
    for (int page = 0; page < images.size(); ++page) {
        const QImage& image = images.at(page);
        int strays = 0;
        QPoint first;
        for (int y = 0; y < image.height(); ++y) {
            const uchar* row = image.constScanLine(y);
            for (int x = 0; x < image.width(); ++x) {
                if (row[x] >= 128)
                    continue;
                const QPoint p(x, y);
                if (std::none_of(usedOnPage[page].begin(), usedOnPage[page].end(),
                                 [&](const QRect& r) { return r.contains(p); })) {
                    if (strays++ == 0)
                        first = p;
                }
            }
        }
        QVERIFY2(strays == 0,
                 qPrintable(QStringLiteral("%1 inked pixels outside the labels on page %2, first at %3,%4 mm")
                                .arg(strays)
                                .arg(page + 1)
                                .arg(first.x() * 25.4 / Dpi, 0, 'f', 1)
                                .arg(first.y() * 25.4 / Dpi, 0, 'f', 1)));
    }
}

void TestLabelPrinting::refusals_data()
{
    QTest::addColumn<QString>("templateName");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("labelsIni");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList fine{QStringLiteral("I242.4/0001-1")};
    QTest::newRow("Chinese in a book number: Code 128 cannot hold it")
        << "a4-3x8" << QStringList{QStringLiteral("I242.4/0001-1"), QStringLiteral("红楼梦-2")} << QStringList()
        << QString() << 1 << QStringLiteral("第 2 行：“红楼梦-2”含有 Code 128 无法表示的字符");
    QTest::newRow("a number too long for a readable barcode on a 38 mm label")
        << "a4-5x13" << QStringList{QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ-0123")} << QStringList() << QString()
        << 1 << QStringLiteral("第 1 行：“ABCDEFGHIJKLMNOPQRSTUVWXYZ-0123”太长");
    QTest::newRow("an ISBN with a wrong check digit is not printed as EAN-13")
        << "a4-3x8" << QStringList{QStringLiteral("9787020002208")} << QStringList{QStringLiteral("--ean13")}
        << QString() << 1 << QStringLiteral("第 1 行：“9787020002208”不是有效的ISBN");
    QTest::newRow("a book number on reader cards")
        << "card-id1" << fine << QStringList() << QString() << 1 << QStringLiteral("读者证模板只印读者");
    QTest::newRow("start beyond the sheet")
        << "a4-3x8" << fine << QStringList{QStringLiteral("--start"), QStringLiteral("25")} << QString() << 1
        << QStringLiteral("起始位置应在 1 到 24 之间");
    QTest::newRow("an offset beyond 10 mm leaves the template out")
        << "a4-3x8" << fine << QStringList() << QStringLiteral("[a4-3x8]\noffsetX=12\n") << 2
        << QStringLiteral("[a4-3x8]: 偏移量不能超过±10毫米");
    QTest::newRow("labels that would leave the paper")
        << "wide" << fine << QStringList() << QStringLiteral("[wide]\nbase=a4-3x8\ncolumns=4\n") << 2
        << QStringLiteral("[wide]: 标签超出纸张");
}

void TestLabelPrinting::refusals()
{
    QFETCH(QString, templateName);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, options);
    QFETCH(QString, labelsIni);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    const QString ini = m_dir.filePath(QStringLiteral("refusal.ini"));
    QFile iniFile(ini);
    QVERIFY(iniFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    iniFile.write(labelsIni.toUtf8());
    iniFile.close();
    QFile numbers(m_dir.filePath(QStringLiteral("refused.txt")));
    QVERIFY(numbers.open(QIODevice::WriteOnly | QIODevice::Truncate));
    numbers.write(lines.join(QLatin1Char('\n')).toUtf8());
    numbers.close();
    const QString pdf = m_dir.filePath(QStringLiteral("refused.pdf"));
    const Run run =
        labels(QStringList{QStringLiteral("--template"), templateName, QStringLiteral("--numbers"), numbers.fileName(),
                           QStringLiteral("--out"), pdf, QStringLiteral("--templates"), ini}
               + options);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!QFile::exists(pdf));
}

void TestLabelPrinting::slip_data()
{
    QTest::addColumn<int>("paper");
    QTest::addColumn<int>("loans");
    QTest::addColumn<double>("pageWidth"); // mm
    QTest::addColumn<int>("pageCount");
    QTest::newRow("80 mm receipt: one page as long as the slip")
        << int(PrintSettings::SlipPaper::Receipt80) << 12 << 80.0 << 1;
    QTest::newRow("A6: what does not fit goes on the next page")
        << int(PrintSettings::SlipPaper::A6) << 12 << 105.0 << 2;
}

void TestLabelPrinting::slip()
{
    QFETCH(int, paper);
    QFETCH(int, loans);
    QFETCH(double, pageWidth);
    QFETCH(int, pageCount);

    SlipContent content;
    content.libraryName = QStringLiteral("第一中学图书馆");
    content.readerId = QStringLiteral("20240001");
    content.readerName = QStringLiteral("张三");
    content.printedAt = QDateTime(QDate(2026, 12, 9), QTime(10, 30));
    for (int i = 1; i <= loans; ++i)
        content.loans << SlipContent::Loan{QStringLiteral("红楼梦（第%1册）").arg(i),
                                           QStringLiteral("I242.4/0001-%1").arg(i),
                                           QStringLiteral("2027-01-%1").arg(i, 2, 10, QLatin1Char('0'))};
    const QString pdf = m_dir.filePath(QStringLiteral("slip.pdf"));
    QCOMPARE(Slip::job(content, PrintSettings::SlipPaper(paper)).writePdf(pdf), QString());

    const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(pageCount))), qPrintable(info));
    const QRegularExpressionMatch size = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x")).match(info);
    QVERIFY(size.hasMatch());
    QVERIFY(qAbs(size.captured(1).toDouble() / 72 * 25.4 - pageWidth) < 0.5);

    // The CJK font maps some characters to their Kangxi radical forms when text is extracted.
    QString text =
        runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).normalized(QString::NormalizationForm_KC);
    text.remove(QLatin1Char(' '));
    auto has = [&](const QString& expected) {
        return text.contains(expected.normalized(QString::NormalizationForm_KC));
    };
    for (const QString& expected : {content.libraryName, content.readerId, content.readerName,
                                    QStringLiteral("2026-12-0910:30"), QStringLiteral("共%1册").arg(loans)})
        QVERIFY2(has(expected), qPrintable(expected));
    for (const SlipContent::Loan& loan : content.loans) {
        QVERIFY2(has(loan.title), qPrintable(loan.title));
        QVERIFY2(has(loan.number), qPrintable(loan.number));
        QVERIFY2(has(QStringLiteral("应还日期：") + loan.dueDate), qPrintable(loan.dueDate));
    }
}

QTEST_MAIN(TestLabelPrinting)
#include "tst_labelprinting.moc"
