#pragma once

#include <QList>
#include <QRectF>
#include <QString>

class QPainter;

// A linear barcode encoded by Zint, kept as its bars in module units so that it can be drawn at an
// exact module width with no scaling of a bitmap. A text the symbology cannot hold gives no bars and
// a message saying why; it is never drawn as some other text.
class Barcode
{
public:
    enum class Symbology { Code128, Ean13 };

    // Narrowest module drawn: two dots of a 300 dpi printer, which scanners read at arm's length.
    static constexpr double MinModule = 25.4 / 300 * 2;
    // Code 128 takes printable ASCII only: anything else would need Latin-1 shifts that the
    // scanner's keyboard output turns into the wrong characters.
    static Barcode code128(const QString& text);
    // An ISBN-13 (or ISBN-10, turned into its ISBN-13), hyphens and spaces allowed, as EAN-13. The
    // check digit must be right.
    static Barcode ean13(const QString& isbn);
    // True when `text` is written like an ISBN (10 or 13 digits, the last of an ISBN-10 may be X,
    // hyphens and spaces between): such a number gets an EAN-13 when that is asked for.
    static bool looksLikeIsbn(const QString& text);

    bool isValid() const { return m_error.isEmpty() && m_modules > 0; }
    QString error() const { return m_error; }
    Symbology symbology() const { return m_symbology; }
    // The text printed under the bars (for an EAN-13 the 13 digits).
    QString text() const { return m_text; }
    // Width of the bars, and of the quiet zones the symbology needs either side, in modules.
    int modules() const { return m_modules; }
    int quietModules() const { return m_quiet; }
    int totalModules() const { return m_modules + 2 * m_quiet; }

    // The widest module, a whole number of 1/300 inch, at which the symbol and its quiet zones fit
    // `width` mm (capped at `maxModule`); 0 when even MinModule does not fit.
    double moduleFor(double width, double maxModule = 0.5) const;
    // Draws the bars with their left edge (after the quiet zone) at x, from `top` down `height` mm.
    // The painter works in device pixels; `pxPerMm` converts.
    void paintBars(QPainter& painter, double pxPerMm, double x, double top, double module, double height) const;

private:
    static Barcode encode(Symbology symbology, int zintSymbology, const QByteArray& data);

    Symbology m_symbology = Symbology::Code128;
    QString m_error;
    QString m_text;
    int m_modules = 0;
    int m_quiet = 0;
    // Bars as (start, width) in modules from the first bar; a fraction of the height where a bar
    // is shorter (none in the two symbologies used).
    QList<std::pair<double, double>> m_bars;
};
