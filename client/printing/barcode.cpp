#include "barcode.h"

#include <QPainter>
#include <QRegularExpression>

#include <zint.h>

#include <cmath>
#include <memory>

namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};

QString withoutSeparators(const QString& text)
{
    QString out = text;
    out.remove(QLatin1Char('-'));
    out.remove(QLatin1Char(' '));
    return out;
}

} // namespace

Barcode Barcode::code128(const QString& text)
{
    Barcode refused;
    if (text.isEmpty()) {
        refused.m_error = QStringLiteral("号码为空");
        return refused;
    }
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            refused.m_error = QStringLiteral("“%1”含有 Code 128 无法表示的字符“%2”（只能用英文字母、数字和符号）")
                                  .arg(text, QString(c));
            return refused;
        }
    }
    return encode(Symbology::Code128, BARCODE_CODE128, text.toLatin1());
}

bool Barcode::looksLikeIsbn(const QString& text)
{
    static const QRegularExpression isbn(QStringLiteral("^(\\d{13}|\\d{9}[\\dXx])$"));
    return isbn.match(withoutSeparators(text)).hasMatch();
}

Barcode Barcode::ean13(const QString& isbnText)
{
    const QString digits = withoutSeparators(isbnText).toUpper();
    if (!looksLikeIsbn(digits)) {
        Barcode refused;
        refused.m_symbology = Symbology::Ean13;
        refused.m_error = QStringLiteral("“%1”不是ISBN，不能印成EAN-13").arg(isbnText);
        return refused;
    }
    // Zint checks the ISBN's own check digit and the 978/979 prefix, and computes the EAN's.
    Barcode result = encode(Symbology::Ean13, BARCODE_ISBNX, digits.toLatin1());
    if (!result.m_error.isEmpty())
        result.m_error = QStringLiteral("“%1”不是有效的ISBN：%2").arg(isbnText, result.m_error);
    return result;
}

Barcode Barcode::encode(Symbology symbology, int zintSymbology, const QByteArray& data)
{
    Barcode result;
    result.m_symbology = symbology;
    std::unique_ptr<zint_symbol, SymbolDeleter> symbol(ZBarcode_Create());
    if (!symbol) {
        result.m_error = QStringLiteral("内存不足");
        return result;
    }
    symbol->symbology = zintSymbology;
    symbol->show_hrt = 0; // the text is drawn by us, in the label's font
    symbol->input_mode = DATA_MODE;
    symbol->output_options = BARCODE_NO_QUIET_ZONES;
    int status = ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(data.constData()), data.size());
    if (status < ZINT_ERROR)
        status = ZBarcode_Buffer_Vector(symbol.get(), 0);
    if (status >= ZINT_ERROR || !symbol->vector) {
        result.m_error = QString::fromUtf8(symbol->errtxt);
        if (result.m_error.isEmpty())
            result.m_error = QStringLiteral("无法生成条码");
        return result;
    }
    // The vector is in Zint's own units; the bars' extent is the symbol's width in modules, since
    // both symbologies start and end with a bar.
    double left = 1e9;
    double right = -1e9;
    for (const zint_vector_rect* r = symbol->vector->rectangles; r; r = r->next) {
        left = std::min(left, double(r->x));
        right = std::max(right, double(r->x + r->width));
    }
    if (symbol->width <= 0 || right <= left) {
        result.m_error = QStringLiteral("无法生成条码");
        return result;
    }
    const double unitsPerModule = (right - left) / symbol->width;
    for (const zint_vector_rect* r = symbol->vector->rectangles; r; r = r->next)
        result.m_bars.append({(r->x - left) / unitsPerModule, r->width / unitsPerModule});
    result.m_modules = symbol->width;
    // Code 128 needs ten modules of white either side; EAN-13 eleven on the left and seven on the
    // right, drawn here as eleven both sides so the symbol stays centred.
    result.m_quiet = symbology == Symbology::Code128 ? 10 : 11;
    result.m_text = QString::fromUtf8(reinterpret_cast<const char*>(symbol->text));
    if (symbology == Symbology::Ean13)
        result.m_text.remove(QLatin1Char('-'));
    if (result.m_text.isEmpty())
        result.m_text = QString::fromLatin1(data);
    return result;
}

double Barcode::moduleFor(double width, double maxModule) const
{
    if (!isValid())
        return 0;
    const double dot = 25.4 / 300;
    const double dots = std::floor(std::min(width / totalModules(), maxModule) / dot + 1e-9);
    const double module = dots * dot;
    return module + 1e-9 >= MinModule ? module : 0;
}

void Barcode::paintBars(QPainter& painter, double pxPerMm, double x, double top, double module, double height) const
{
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    for (const auto& [start, width] : m_bars)
        painter.drawRect(
            QRectF((x + start * module) * pxPerMm, top * pxPerMm, width * module * pxPerMm, height * pxPerMm));
    painter.restore();
}
