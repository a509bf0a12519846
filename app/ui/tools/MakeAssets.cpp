// Draws the program's own pictures: the start page logo and the two product pictures, the
// busy indicator, the status icons, the function-unit image strip and the application
// icon. Run once by hand (target tc_make_assets, not built by default); the results are
// committed in app/ui/res/.
//
//   tc_make_assets <output folder>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "GifEncoder.h"

namespace
{
const QColor kBlue(0x00, 0x33, 0x66);
const QColor kOrange(0xE8, 0x77, 0x22);

bool WriteFile(const QString& strPath, const std::vector<uint8_t>& vec)
{
    QFile f(strPath);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(reinterpret_cast<const char*>(vec.data()), static_cast<qint64>(vec.size())) ==
           static_cast<qint64>(vec.size());
}

// Nearest palette entry by squared RGB distance.
uint8_t Nearest(QRgb c, const std::vector<uint32_t>& vecPalette)
{
    int nBest = 0;
    long nBestDist = -1;
    for (size_t i = 0; i < vecPalette.size(); ++i)
    {
        const long dr = qRed(c) - static_cast<long>((vecPalette[i] >> 16) & 0xFF);
        const long dg = qGreen(c) - static_cast<long>((vecPalette[i] >> 8) & 0xFF);
        const long db = qBlue(c) - static_cast<long>(vecPalette[i] & 0xFF);
        const long d = dr * dr + dg * dg + db * db;
        if (nBestDist < 0 || d < nBestDist)
        {
            nBestDist = d;
            nBest = static_cast<int>(i);
        }
    }
    return static_cast<uint8_t>(nBest);
}

std::vector<uint32_t> Ramp(const QColor& a, const QColor& b, int n)
{
    std::vector<uint32_t> v;
    for (int i = 0; i < n; ++i)
    {
        const double t = n == 1 ? 0.0 : static_cast<double>(i) / (n - 1);
        const int r = static_cast<int>(a.red() + (b.red() - a.red()) * t);
        const int g = static_cast<int>(a.green() + (b.green() - a.green()) * t);
        const int bl = static_cast<int>(a.blue() + (b.blue() - a.blue()) * t);
        v.push_back(static_cast<uint32_t>(r << 16 | g << 8 | bl));
    }
    return v;
}

std::vector<uint8_t> ToGifFrame(const QImage& img, const std::vector<uint32_t>& vecPalette, int nTransparent)
{
    std::vector<uint8_t> v;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
        {
            const QRgb c = img.pixel(x, y);
            if (nTransparent >= 0 && qAlpha(c) < 128)
                v.push_back(static_cast<uint8_t>(nTransparent));
            else
                v.push_back(Nearest(c, vecPalette));
        }
    return v;
}

// 168 x 33: a small mark and the maker's name, white background.
bool MakeLogo(const QString& strDir)
{
    QImage img(168, 33, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // The mark: two overlapping rounded squares.
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(3, 5, 22, 22), 4, 4);
    p.setBrush(kOrange);
    p.drawRoundedRect(QRectF(15, 11, 14, 14), 3, 3);
    QFont font("DejaVu Sans", 17, QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(font);
    p.setPen(kBlue);
    p.drawText(QRect(36, 2, 130, 24), Qt::AlignLeft | Qt::AlignVCenter, "VANTOR");
    QFont small("DejaVu Sans", 6);
    p.setFont(small);
    p.setPen(QColor(0x66, 0x66, 0x66));
    p.drawText(QRect(37, 22, 130, 10), Qt::AlignLeft | Qt::AlignVCenter, "card terminals");
    p.end();
    std::vector<uint32_t> vecPalette = Ramp(Qt::white, kBlue, 16);
    const auto vecOrange = Ramp(Qt::white, kOrange, 8);
    const auto vecGray = Ramp(Qt::white, QColor(0x66, 0x66, 0x66), 8);
    vecPalette.insert(vecPalette.end(), vecOrange.begin() + 1, vecOrange.end());
    vecPalette.insert(vecPalette.end(), vecGray.begin() + 1, vecGray.end());
    gifenc::SFrame f{0, 0, 168, 33, ToGifFrame(img, vecPalette, -1), false, 0, 0, -1};
    return WriteFile(strDir + "/logo_vantor_cid.gif", gifenc::Encode(168, 33, vecPalette, {f}, false));
}

void DrawKey(QPainter& p, const QRectF& r, const QString& strLabel = QString())
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x4a, 0x4f, 0x57));
    g.setColorAt(1, QColor(0x2a, 0x2d, 0x33));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x1a, 0x1c, 0x20), 0.8));
    p.drawRoundedRect(r, 2, 2);
    if (!strLabel.isEmpty())
    {
        p.setPen(QColor(0xdd, 0xdd, 0xdd));
        p.drawText(r, Qt::AlignCenter, strLabel);
    }
}

// 468 x 269: a keyboard with a card slot and a health card half inserted.
bool MakeKeyboard(const QString& strDir)
{
    QImage img(468, 269, QImage::Format_RGB32);
    QLinearGradient bg(0, 0, 0, 269);
    bg.setColorAt(0, QColor(0xfa, 0xfa, 0xfa));
    bg.setColorAt(1, QColor(0xe4, 0xe7, 0xeb));
    QPainter p(&img);
    p.fillRect(img.rect(), bg);
    p.setRenderHint(QPainter::Antialiasing);
    // Shadow and body in perspective-free flat view.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(QRectF(22, 70, 432, 170), 14, 14);
    QLinearGradient body(0, 60, 0, 230);
    body.setColorAt(0, QColor(0x3a, 0x3e, 0x45));
    body.setColorAt(1, QColor(0x1e, 0x20, 0x24));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(14, 60, 432, 170), 14, 14);
    // Keys: 5 rows.
    QFont f("DejaVu Sans", 6);
    p.setFont(f);
    const char* apszRows[] = {"1234567890", "QWERTZUIOP", "ASDFGHJKL", "YXCVBNM"};
    for (int row = 0; row < 4; ++row)
    {
        const char* psz = apszRows[row];
        const int n = static_cast<int>(std::strlen(psz));
        for (int i = 0; i < n; ++i)
            DrawKey(p, QRectF(34 + row * 7 + i * 23, 96 + row * 24, 20, 20), QString(QChar(psz[i])));
    }
    DrawKey(p, QRectF(90, 192, 150, 20));  // space bar
    // Numeric block with the PIN pad look.
    const char* pszPad = "123456789*0#";
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            DrawKey(p, QRectF(300 + c * 23, 96 + r * 24, 20, 20), QString(QChar(pszPad[r * 3 + c])));
    // Status LEDs and the display strip of the terminal part.
    QLinearGradient disp(0, 70, 0, 88);
    disp.setColorAt(0, QColor(0x9c, 0xc8, 0x8e));
    disp.setColorAt(1, QColor(0x7a, 0xa8, 0x6c));
    p.setBrush(disp);
    p.setPen(QPen(QColor(0x10, 0x10, 0x10), 1));
    p.drawRoundedRect(QRectF(300, 70, 66, 18), 2, 2);
    p.setPen(QColor(0x22, 0x33, 0x22));
    p.drawText(QRectF(300, 70, 66, 18), Qt::AlignCenter, "PIN: ****");
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3c, 0xd0, 0x4a));
    p.drawEllipse(QPointF(385, 79), 3, 3);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(396, 79), 3, 3);
    // Card slot at the right with a card sticking out.
    p.setBrush(QColor(0x0c, 0x0c, 0x0e));
    p.drawRoundedRect(QRectF(378, 100, 58, 6), 2, 2);
    QLinearGradient card(380, 20, 436, 104);
    card.setColorAt(0, QColor(0x3f, 0x8f, 0xd2));
    card.setColorAt(1, QColor(0x1d, 0x55, 0x9a));
    p.setBrush(card);
    p.drawRoundedRect(QRectF(381, 24, 52, 80), 4, 4);
    p.setBrush(QColor(0xe0, 0xc0, 0x60));
    p.drawRoundedRect(QRectF(396, 36, 14, 11), 2, 2);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(QRectF(389, 60, 36, 3));
    p.drawRect(QRectF(389, 67, 28, 3));
    p.end();
    return img.save(strDir + "/eHealth_Tastatur_M41-3300_468.jpg", "JPEG", 88);
}

// 350 x 350: a desktop card terminal with display, keypad and a card in its slot.
bool MakeTerminal(const QString& strDir)
{
    QImage img(350, 350, QImage::Format_RGB32);
    QRadialGradient bg(175, 150, 260);
    bg.setColorAt(0, QColor(0xff, 0xff, 0xff));
    bg.setColorAt(1, QColor(0xdc, 0xe0, 0xe6));
    QPainter p(&img);
    p.fillRect(img.rect(), bg);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 45));
    p.drawEllipse(QRectF(70, 290, 220, 34));
    // Body.
    QPainterPath path;
    path.moveTo(95, 60);
    path.lineTo(255, 60);
    path.quadTo(280, 60, 282, 85);
    path.lineTo(292, 290);
    path.quadTo(292, 308, 272, 308);
    path.lineTo(78, 308);
    path.quadTo(58, 308, 58, 290);
    path.lineTo(68, 85);
    path.quadTo(70, 60, 95, 60);
    QLinearGradient body(60, 0, 292, 0);
    body.setColorAt(0, QColor(0x2b, 0x2f, 0x36));
    body.setColorAt(0.5, QColor(0x46, 0x4b, 0x54));
    body.setColorAt(1, QColor(0x24, 0x27, 0x2c));
    p.setBrush(body);
    p.drawPath(path);
    // Display.
    QLinearGradient disp(0, 84, 0, 150);
    disp.setColorAt(0, QColor(0xa8, 0xd4, 0x9a));
    disp.setColorAt(1, QColor(0x82, 0xb2, 0x74));
    p.setBrush(QColor(0x12, 0x12, 0x14));
    p.drawRoundedRect(QRectF(92, 80, 166, 74), 6, 6);
    p.setBrush(disp);
    p.drawRoundedRect(QRectF(100, 88, 150, 58), 3, 3);
    QFont font("DejaVu Sans Mono", 10, QFont::Bold);
    p.setFont(font);
    p.setPen(QColor(0x1c, 0x30, 0x1c));
    p.drawText(QRectF(100, 92, 150, 24), Qt::AlignCenter, "Karte gesteckt");
    p.drawText(QRectF(100, 116, 150, 24), Qt::AlignCenter, "PIN: ******");
    // Keypad 4 x 4 with function keys in the last column.
    QFont keyFont("DejaVu Sans", 9, QFont::Bold);
    p.setFont(keyFont);
    const char* apszKeys[] = {"1", "2", "3", "", "4", "5", "6", "", "7", "8", "9", "", "*", "0", "#", ""};
    const QColor aFunc[] = {QColor(0xd2, 0x3b, 0x2f), QColor(0xe8, 0xc2, 0x2a), QColor(0x2f, 0xa0, 0x47),
                            QColor(0x55, 0x5a, 0x63)};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
        {
            const QRectF rk(96 + c * 41, 170 + r * 29, 34, 22);
            if (c == 3)
            {
                p.setBrush(aFunc[r]);
                p.setPen(Qt::NoPen);
                p.drawRoundedRect(rk, 5, 5);
            }
            else
            {
                DrawKey(p, rk, QString::fromLatin1(apszKeys[r * 4 + c]));
            }
        }
    // Card slot on top with a health card sticking out.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0a, 0x0a, 0x0c));
    p.drawRoundedRect(QRectF(120, 56, 110, 8), 3, 3);
    QLinearGradient card(125, 0, 225, 60);
    card.setColorAt(0, QColor(0x3f, 0x8f, 0xd2));
    card.setColorAt(1, QColor(0x1d, 0x55, 0x9a));
    p.setBrush(card);
    p.drawRoundedRect(QRectF(125, 8, 100, 52), 5, 5);
    p.setBrush(QColor(0xe0, 0xc0, 0x60));
    p.drawRoundedRect(QRectF(138, 20, 18, 14), 2, 2);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawRect(QRectF(165, 22, 48, 4));
    p.drawRect(QRectF(165, 31, 36, 4));
    p.end();
    return img.save(strDir + "/terminal.jpg", "JPEG", 88);
}

// 8 frames of 16 x 16, 10/100 s each, looping: eight dots on a circle, the bright one walks.
bool MakeBusy(const QString& strDir)
{
    const std::vector<uint32_t> vecPalette = {0xFFFFFF, 0x003366, 0x35597F, 0x6A8099, 0x9FA9B2, 0xC8CDD2,
                                              0xE0E3E6, 0xECEEF0};
    std::vector<gifenc::SFrame> vecFrames;
    for (int nFrame = 0; nFrame < 8; ++nFrame)
    {
        QImage img(16, 16, QImage::Format_ARGB32);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 8; ++i)
        {
            const int nAge = (nFrame - i + 8) % 8;  // 0 = the lead dot
            const double a = (i * 45.0 - 90.0) * M_PI / 180.0;
            const QPointF c(8 + 5.5 * std::cos(a), 8 + 5.5 * std::sin(a));
            const uint32_t rgb = vecPalette[static_cast<size_t>(std::min(nAge, 6) + 1)];
            p.setBrush(QColor(static_cast<int>(rgb >> 16), static_cast<int>((rgb >> 8) & 0xFF),
                              static_cast<int>(rgb & 0xFF)));
            p.drawEllipse(c, 1.9, 1.9);
        }
        p.end();
        // Disposal 2 (restore to background) so that each frame starts on a clean area.
        vecFrames.push_back({0, 0, 16, 16, ToGifFrame(img, vecPalette, 0), true, 10, 2, 0});
    }
    return WriteFile(strDir + "/busy.gif", gifenc::Encode(16, 16, vecPalette, vecFrames, true));
}

// Status icons 32 x 32: a round badge with a tick, a cross or an exclamation mark.
bool MakeStatus(const QString& strPath, const QColor& color, int nSymbol)
{
    QImage img(32, 32, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(12, 10, 22);
    g.setColorAt(0, color.lighter(150));
    g.setColorAt(1, color.darker(120));
    p.setBrush(g);
    p.setPen(QPen(color.darker(160), 1.2));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    if (nSymbol == 0)
    {
        p.drawPolyline(QPolygonF({QPointF(9.5, 16.5), QPointF(14, 21), QPointF(22.5, 11)}));
    }
    else if (nSymbol == 1)
    {
        p.drawLine(QPointF(11, 11), QPointF(21, 21));
        p.drawLine(QPointF(21, 11), QPointF(11, 21));
    }
    else
    {
        p.setPen(QPen(QColor(0x40, 0x30, 0x00), 3.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 8.5), QPointF(16, 17.5));
        p.drawPoint(QPointF(16, 23.5));
    }
    p.end();
    return img.save(strPath, "PNG");
}

// 16 images of 16 x 16 side by side on magenta (the mask colour), indexed by the high nibble
// of a function unit's type byte: 0 terminal, 1 card slot, 4 display, 5 keypad, 6 printer,
// 7 fingerprint; the others a generic unit with its number.
bool MakeUnitStrip(const QString& strPath)
{
    QImage img(256, 16, QImage::Format_RGB32);
    img.fill(QColor(0xFF, 0x00, 0xFF));
    QPainter p(&img);
    const QColor dark(0x30, 0x34, 0x3a);
    QFont font("DejaVu Sans", 6, QFont::Bold);
    p.setFont(font);
    for (int i = 0; i < 16; ++i)
    {
        p.save();
        p.translate(i * 16, 0);
        p.setPen(dark);
        switch (i)
        {
        case 0:  // terminal body with display
            p.setBrush(QColor(0x55, 0x5a, 0x63));
            p.drawRect(3, 1, 9, 13);
            p.setBrush(QColor(0xa8, 0xd4, 0x9a));
            p.drawRect(5, 3, 5, 3);
            break;
        case 1:  // card with chip
            p.setBrush(QColor(0x3f, 0x8f, 0xd2));
            p.drawRect(1, 3, 13, 9);
            p.setBrush(QColor(0xe0, 0xc0, 0x60));
            p.drawRect(3, 5, 3, 3);
            break;
        case 4:  // display
            p.setBrush(QColor(0xa8, 0xd4, 0x9a));
            p.drawRect(1, 4, 13, 7);
            p.drawLine(3, 7, 11, 7);
            break;
        case 5:  // keypad
            p.setBrush(QColor(0xee, 0xee, 0xee));
            p.drawRect(2, 1, 11, 13);
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    p.fillRect(4 + c * 3, 3 + r * 3, 2, 2, dark);
            break;
        case 6:  // printer
            p.setBrush(QColor(0xee, 0xee, 0xee));
            p.drawRect(4, 1, 7, 5);
            p.setBrush(QColor(0x88, 0x8c, 0x92));
            p.drawRect(1, 6, 13, 6);
            break;
        case 7:  // fingerprint
            p.setBrush(Qt::NoBrush);
            for (int r = 2; r <= 6; r += 2)
                p.drawEllipse(QPoint(7, 8), r, r + 1);
            break;
        default:
            p.setBrush(QColor(0xdd, 0xe2, 0xe8));
            p.drawRect(1, 1, 13, 13);
            p.drawText(QRect(1, 1, 14, 14), Qt::AlignCenter, QString::number(i, 16).toUpper());
            break;
        }
        p.restore();
    }
    p.end();
    return img.save(strPath, "PNG");
}

// The application icon: a card terminal with a magnifying glass (it finds terminals).
QImage DrawAppIcon(int nSize)
{
    QImage img(nSize, nSize, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(nSize / 64.0, nSize / 64.0);
    p.setPen(Qt::NoPen);
    QLinearGradient body(0, 8, 0, 60);
    body.setColorAt(0, QColor(0x4a, 0x50, 0x5a));
    body.setColorAt(1, QColor(0x22, 0x25, 0x2b));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(8, 10, 38, 50), 6, 6);
    p.setBrush(QColor(0xa8, 0xd4, 0x9a));
    p.drawRoundedRect(QRectF(13, 16, 28, 12), 2, 2);
    p.setBrush(QColor(0xd8, 0xdc, 0xe2));
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            p.drawRoundedRect(QRectF(13 + c * 10, 33 + r * 8, 7, 5), 1, 1);
    QLinearGradient card(16, 0, 38, 12);
    card.setColorAt(0, QColor(0x3f, 0x8f, 0xd2));
    card.setColorAt(1, QColor(0x1d, 0x55, 0x9a));
    p.setBrush(card);
    p.drawRoundedRect(QRectF(15, 2, 24, 12), 2, 2);
    p.setBrush(QColor(0xe0, 0xc0, 0x60));
    p.drawRect(QRectF(18, 5, 5, 4));
    // Magnifier.
    p.setPen(QPen(kOrange, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(53, 53), QPointF(60, 60));
    p.setPen(QPen(kOrange, 3.5));
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawEllipse(QPointF(46, 46), 9, 9);
    p.end();
    return img;
}
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: tc_make_assets <output folder>\n");
        return 2;
    }
    const QString strDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(strDir + "/html");
    QDir().mkpath(strDir + "/img");
    bool bOk = MakeLogo(strDir + "/html") && MakeKeyboard(strDir + "/html") && MakeTerminal(strDir + "/html") &&
               MakeBusy(strDir + "/img") && MakeStatus(strDir + "/img/status_green_152.png", QColor(0x2f, 0xa0, 0x47), 0) &&
               MakeStatus(strDir + "/img/status_red_154.png", QColor(0xd2, 0x3b, 0x2f), 1) &&
               MakeStatus(strDir + "/img/status_yellow_163.png", QColor(0xf0, 0xc0, 0x20), 2) &&
               MakeUnitStrip(strDir + "/img/units_164.png");
    for (int nSize : {16, 32, 48, 64, 128, 256})
        bOk = bOk && DrawAppIcon(nSize).save(strDir + QString("/img/app_%1.png").arg(nSize), "PNG");
    if (!bOk)
        std::fprintf(stderr, "tc_make_assets: writing failed\n");
    return bOk ? 0 : 1;
}
