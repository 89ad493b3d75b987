// Colours, points, rectangles and fonts as the components exchange them.
//
// TColor is 0x00BBGGRR (red in the lowest byte) or a system colour: high byte
// 0xFF, the system colour index in the lowest byte. Value types; any thread.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>
#include <optional>

using TColor = int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);

// Named colours of the interface library.
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clLtGray = 0xC0C0C0;
constexpr TColor clDkGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

// System colours (index as in the Win32 COLOR_* constants).
constexpr TColor clScrollBar = clSystemColor | 0;
constexpr TColor clBackground = clSystemColor | 1;
constexpr TColor clActiveCaption = clSystemColor | 2;
constexpr TColor clInactiveCaption = clSystemColor | 3;
constexpr TColor clMenu = clSystemColor | 4;
constexpr TColor clWindow = clSystemColor | 5;
constexpr TColor clWindowFrame = clSystemColor | 6;
constexpr TColor clMenuText = clSystemColor | 7;
constexpr TColor clWindowText = clSystemColor | 8;
constexpr TColor clCaptionText = clSystemColor | 9;
constexpr TColor clActiveBorder = clSystemColor | 10;
constexpr TColor clInactiveBorder = clSystemColor | 11;
constexpr TColor clAppWorkSpace = clSystemColor | 12;
constexpr TColor clHighlight = clSystemColor | 13;
constexpr TColor clHighlightText = clSystemColor | 14;
constexpr TColor clBtnFace = clSystemColor | 15;
constexpr TColor clBtnShadow = clSystemColor | 16;
constexpr TColor clGrayText = clSystemColor | 17;
constexpr TColor clBtnText = clSystemColor | 18;
constexpr TColor clInactiveCaptionText = clSystemColor | 19;
constexpr TColor clBtnHighlight = clSystemColor | 20;
constexpr TColor cl3DDkShadow = clSystemColor | 21;
constexpr TColor cl3DLight = clSystemColor | 22;
constexpr TColor clInfoText = clSystemColor | 23;
constexpr TColor clInfoBk = clSystemColor | 24;

// "clRed" -> clRed; names compare without regard to case. Empty when unknown.
std::optional<TColor> IdentToColor(const QString &ident);
// clRed -> "clRed"; empty when the value has no name.
QString ColorToIdent(TColor color);
// A colour name or a number (decimal, or hexadecimal with "$" or "0x").
std::optional<TColor> StringToColor(const QString &text);
// System colours resolve through the application palette.
QColor ColorToQColor(TColor color);
TColor QColorToColor(const QColor &color);

struct TPoint {
    int32_t X = 0;
    int32_t Y = 0;
    friend bool operator==(const TPoint &, const TPoint &) = default;
};

struct TRect {
    int32_t Left = 0;
    int32_t Top = 0;
    int32_t Right = 0;
    int32_t Bottom = 0;
    int32_t Width() const { return Right - Left; }
    int32_t Height() const { return Bottom - Top; }
    friend bool operator==(const TRect &, const TRect &) = default;
};

enum class TFontPitch { fpDefault = 0, fpVariable = 1, fpFixed = 2 };

// The style set; combine with |.
enum TFontStyle : uint8_t {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};
using TFontStyles = uint8_t;

// A font as the components describe it. Size is in points; Height in pixels is
// derived from it through PixelsPerInch (negative heights are character
// heights, as the interface library counts them).
struct TFont {
    QString Name = QStringLiteral("MS Sans Serif");
    int Size = 8;
    TColor Color = clWindowText;
    TFontStyles Style = 0;
    int Charset = 1;  // DEFAULT_CHARSET
    TFontPitch Pitch = TFontPitch::fpDefault;
    int PixelsPerInch = 96;

    int Height() const;
    void SetHeight(int height);
    void Assign(const TFont &other) { *this = other; }
    // The face is mapped to an installed stand-in (Arial -> Liberation Sans ...).
    QFont ToQFont() const;
    friend bool operator==(const TFont &, const TFont &) = default;
};

// Installed family that stands in for a face the program names.
QString SubstituteFontFamily(const QString &face);
