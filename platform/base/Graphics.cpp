#include "Graphics.h"

#include <QGuiApplication>
#include <QPalette>

#include <cmath>

namespace {

struct NamedColor {
    TColor color;
    const char *name;
};

// The interface library's colour identifiers, in its own order.
constexpr NamedColor kColorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuText, "clMenuText"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
    {clNone, "clNone"},
    {clDefault, "clDefault"},
};

QColor SystemColor(int index)
{
    // Only a QGuiApplication has a palette; asking QGuiApplication::palette()
    // under a plain QCoreApplication (tools, unit tests) crashes. Without one,
    // a palette built from the usual button face stands in.
    const QPalette pal = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                             ? QGuiApplication::palette()
                             : QPalette(QColor(0xF0, 0xF0, 0xF0));
    switch (index) {
    case 5: return pal.color(QPalette::Base);
    case 6: return pal.color(QPalette::Shadow);
    case 7:
    case 8: return pal.color(QPalette::Text);
    case 9: return pal.color(QPalette::HighlightedText);
    case 12: return pal.color(QPalette::Dark);
    case 13: return pal.color(QPalette::Highlight);
    case 14: return pal.color(QPalette::HighlightedText);
    case 15: return pal.color(QPalette::Button);
    case 16: return pal.color(QPalette::Mid);
    case 17: return pal.color(QPalette::PlaceholderText);
    case 18: return pal.color(QPalette::ButtonText);
    case 19: return pal.color(QPalette::Inactive, QPalette::WindowText);
    case 20: return pal.color(QPalette::Light);
    case 21: return pal.color(QPalette::Shadow);
    case 22: return pal.color(QPalette::Midlight);
    case 23: return pal.color(QPalette::ToolTipText);
    case 24: return pal.color(QPalette::ToolTipBase);
    case 2: return pal.color(QPalette::Highlight);
    default: return pal.color(QPalette::Window);
    }
}

bool IsHexDigits(QStringView s)
{
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return !s.isEmpty();
}

}  // namespace

std::optional<TColor> IdentToColor(const QString &ident)
{
    for (const auto &nc : kColorNames)
        if (ident.compare(QLatin1String(nc.name), Qt::CaseInsensitive) == 0)
            return nc.color;
    return std::nullopt;
}

QString ColorToIdent(TColor color)
{
    for (const auto &nc : kColorNames)
        if (nc.color == color)
            return QLatin1String(nc.name);
    return {};
}

std::optional<TColor> StringToColor(const QString &text)
{
    const QString t = text.trimmed();
    if (auto named = IdentToColor(t))
        return named;
    bool ok = false;
    qint64 v = 0;
    qsizetype prefix = 0;
    if (t.startsWith(QLatin1Char('$')))
        prefix = 1;
    else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        prefix = 2;
    if (prefix) {
        // toLongLong would also take a sign, blanks or a second "0x" here,
        // turning "0x-10" into a system colour code.
        const QStringView digits = QStringView(t).mid(prefix);
        if (!IsHexDigits(digits))
            return std::nullopt;
        v = digits.toLongLong(&ok, 16);
    } else {
        v = t.toLongLong(&ok, 10);
    }
    if (!ok || v < INT32_MIN || v > UINT32_MAX)
        return std::nullopt;
    return static_cast<TColor>(static_cast<uint32_t>(v));
}

QColor ColorToQColor(TColor color)
{
    const uint32_t c = static_cast<uint32_t>(color);
    if ((c & 0xFF000000u) == 0xFF000000u)
        return SystemColor(static_cast<int>(c & 0xFF));
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

TColor QColorToColor(const QColor &color)
{
    return static_cast<TColor>(static_cast<uint32_t>(color.red()) |
                               (static_cast<uint32_t>(color.green()) << 8) |
                               (static_cast<uint32_t>(color.blue()) << 16));
}

int TFont::Height() const
{
    return -static_cast<int>(std::lround(Size * PixelsPerInch / 72.0));
}

void TFont::SetHeight(int height)
{
    // Negative heights are character heights; positive ones include the
    // internal leading, which we do not know here, so both map alike.
    const int ppi = PixelsPerInch > 0 ? PixelsPerInch : 96;
    Size = static_cast<int>(std::lround(std::abs(height) * 72.0 / ppi));
}

QString SubstituteFontFamily(const QString &face)
{
    static const struct {
        const char *face;
        const char *family;
    } kSubstitutes[] = {
        {"Arial", "Liberation Sans"},
        {"Helvetica", "Liberation Sans"},
        {"MS Sans Serif", "Liberation Sans"},
        {"Tahoma", "DejaVu Sans"},
        {"Verdana", "DejaVu Sans"},
        {"Courier New", "Liberation Mono"},
        {"Courier", "Liberation Mono"},
        {"Times New Roman", "Liberation Serif"},
    };
    for (const auto &s : kSubstitutes)
        if (face.compare(QLatin1String(s.face), Qt::CaseInsensitive) == 0)
            return QLatin1String(s.family);
    return face;
}

QFont TFont::ToQFont() const
{
    QFont f(SubstituteFontFamily(Name));
    f.setPointSize(Size > 0 ? Size : 1);
    f.setBold(Style & fsBold);
    f.setItalic(Style & fsItalic);
    f.setUnderline(Style & fsUnderline);
    f.setStrikeOut(Style & fsStrikeOut);
    if (Pitch == TFontPitch::fpFixed)
        f.setFixedPitch(true);
    return f;
}
