#include "uSavePrefs.h"

#include "uLinkEdit.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

namespace {

constexpr int kGlyphSize = 32;

// The dialog was laid out at 120 dots per inch; its fonts are given there.
QFont FontAt120Dpi(const QString &face, int height)
{
    TFont f;
    f.Name = face;
    f.PixelsPerInch = 120;
    f.SetHeight(height);
    return f.ToQFont();
}

QPixmap BlankGlyph()
{
    QPixmap pm(kGlyphSize, kGlyphSize);
    pm.fill(Qt::transparent);
    return pm;
}

// A filing cabinet with three drawers: the registry.
QPixmap RegistryGlyph()
{
    QPixmap pm = BlankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient body(4, 0, 28, 0);
    body.setColorAt(0, QColor(0x9D, 0xB4, 0xCF));
    body.setColorAt(1, QColor(0x4A, 0x6A, 0x93));
    p.setPen(QPen(QColor(0x25, 0x3B, 0x5C), 1.2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(5.5, 2.5, 21, 27), 2, 2);
    for (int i = 0; i < 3; ++i) {
        const QRectF drawer(8.5, 5.5 + i * 8, 15, 6.5);
        p.setBrush(QColor(0xD8, 0xE3, 0xF0));
        p.drawRect(drawer);
        p.setBrush(QColor(0x25, 0x3B, 0x5C));
        p.drawRect(QRectF(drawer.center().x() - 2.5, drawer.top() + 2, 5, 2));
    }
    return pm;
}

// A document beside a USB key: an ini file that travels.
QPixmap PortableGlyph()
{
    QPixmap pm = BlankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath page;
    page.moveTo(3.5, 2.5);
    page.lineTo(15.5, 2.5);
    page.lineTo(20.5, 7.5);
    page.lineTo(20.5, 27.5);
    page.lineTo(3.5, 27.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawPolyline(QPolygonF({QPointF(15.5, 2.5), QPointF(15.5, 7.5), QPointF(20.5, 7.5)}));
    for (int y = 10; y <= 22; y += 4)
        p.drawLine(QPointF(6.5, y + 0.5), QPointF(17.5, y + 0.5));
    p.setPen(QPen(QColor(0x7A, 0x7A, 0x7A), 1));
    p.setBrush(QColor(0xD0, 0xD0, 0xD0));
    p.drawRect(QRectF(21.5, 10.5, 7, 6));  // connector
    p.setPen(QPen(QColor(0x10, 0x4E, 0x1E), 1));
    p.setBrush(QColor(0x2E, 0x9E, 0x48));
    p.drawRoundedRect(QRectF(19.5, 16.5, 11, 13), 2, 2);  // body
    p.fillRect(QRectF(23, 12, 1.5, 2), QColor(0x50, 0x50, 0x50));
    p.fillRect(QRectF(25.5, 12, 1.5, 2), QColor(0x50, 0x50, 0x50));
    return pm;
}

// A crossed-out circle: nothing kept.
QPixmap NoneGlyph()
{
    QPixmap pm = BlankGlyph();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xC8, 0x1E, 0x1E), 4, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(5, 5, 22, 22);
    p.drawEllipse(ring);
    p.drawLine(QPointF(ring.left() + 3.5, ring.top() + 3.5), QPointF(ring.right() - 3.5, ring.bottom() - 3.5));
    return pm;
}

QPushButton *MakeButton(QWidget *parent, const QRect &geometry, const QPixmap &glyph)
{
    auto *b = new QPushButton(parent);
    b->setGeometry(geometry);
    b->setIcon(QIcon(glyph));
    b->setIconSize(QSize(kGlyphSize, kGlyphSize));
    return b;
}

}  // namespace

TSavePrefsForm::TSavePrefsForm(QWidget *parent) : QDialog(parent)
{
    setFixedSize(551, 364);
    setFont(FontAt120Dpi(QStringLiteral("MS Sans Serif"), 14));

    LinkEdit1 = new TLinkEdit(this);
    LinkEdit1->setGeometry(39, 20, 464, 247);
    LinkEdit1->setFrameShape(QFrame::NoFrame);
    LinkEdit1->setReadOnly(true);
    LinkEdit1->setFocusPolicy(Qt::NoFocus);
    LinkEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette pal = LinkEdit1->palette();
    pal.setColor(QPalette::Base, ColorToQColor(clBtnFace));
    pal.setColor(QPalette::Window, ColorToQColor(clBtnFace));
    LinkEdit1->setPalette(pal);
    LinkEdit1->setFont(FontAt120Dpi(QStringLiteral("Arial"), -20));
    LinkEdit1->UrlColor = clNavy;
    LinkEdit1->MailColor = clNavy;
    LinkEdit1->LinkColor = clNavy;
    LinkEdit1->UseInternalCursor = false;

    NormalBtn = MakeButton(this, QRect(39, 286, 120, 60), RegistryGlyph());
    PortableBtn = MakeButton(this, QRect(207, 286, 119, 60), PortableGlyph());
    AucunBtn = MakeButton(this, QRect(374, 286, 120, 60), NoneGlyph());
    setTabOrder(NormalBtn, PortableBtn);
    setTabOrder(PortableBtn, AucunBtn);
    connect(NormalBtn, &QPushButton::clicked, this, [this] { Choose(spRegistre); });
    connect(PortableBtn, &QPushButton::clicked, this, [this] { Choose(spPortable); });
    connect(AucunBtn, &QPushButton::clicked, this, [this] { Choose(spNone); });

    FormCreate();
}

void TSavePrefsForm::FormCreate()
{
    LinkEdit1->SetRichText(QStringLiteral(
        "<br><size 10><i>Do you want to save your preferences and find them again on next start?"
        "<br><br>Click on your choice:</i><br><br>* either to save them in the registry (normal mode)."
        "<br>* either to save them in an ini-file (portable mode).<br>* either not to save them. "
        "In the last case, all preferences will be lost, and the default values will be loaded on "
        "the next start.<br></size>"));
    NormalBtn->setText(QStringLiteral("Normal"));
    NormalBtn->setToolTip(QStringLiteral("Save the Preferences in the registry.\r\n"
                                         "If an ini file existed, it will be deleted."));
    PortableBtn->setText(QStringLiteral("Portable"));
    PortableBtn->setToolTip(QStringLiteral("Saves the preferences to an ini file.\r\n"
                                           "Deletes the preferences from the registry."));
    AucunBtn->setText(QStringLiteral("None"));
    AucunBtn->setToolTip(QStringLiteral("Exit without saving the preferences.\r\n"
                                        "If they existed in an ini-file or in the registry,\r\n"
                                        "they will be deleted."));
}

void TSavePrefsForm::Choose(TSavePreferences mode)
{
    choice = mode;
    chosen = true;
    accept();
}
