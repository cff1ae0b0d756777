#include "panel/res/icons.h"

#include <algorithm>

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace corvane {

namespace {

// A pixmap of the resource's size, filled with the ground colour.
QPixmap Blank(int id, const QColor& ground)
{
    QPixmap pm(ResourceSize(id));
    pm.fill(ground);
    return pm;
}

// The blue tile behind the program's picture and the digits, in the band's colours.
void Tile(QPainter& p, const QRectF& r, double radius)
{
    p.setPen(QColor(30, 120, 255));
    p.setBrush(QColor(30, 144, 225));
    p.drawRoundedRect(r, radius, radius);
}

void Cross(QPainter& p, const QColor& colour)
{
    QPen pen(colour, 1.8, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
    p.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
}

// The program's picture drawn on a 32-unit grid, scaled to size x size pixels.
QPixmap PaintProgram(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    Tile(p, QRectF(1.5, 1.5, 29, 29), 5);
    // Four inputs on the left, two outputs on the right, a route between them.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(6, 6.5 + i * 5.5, 4, 3));
    for (int i = 0; i < 2; ++i)
        p.drawRect(QRectF(22, 10 + i * 9, 4, 3));
    p.setPen(QPen(Qt::white, 1.4));
    p.drawLine(QPointF(10, 13.5), QPointF(22, 11.5));
    p.drawLine(QPointF(10, 24.5), QPointF(22, 20.5));
    return pm;
}

QPixmap PaintClose(bool hot)
{
    QPixmap pm = Blank(hot ? IDI_CLOSE_HOT : IDI_CLOSE, hot ? QColor(150, 20, 20) : QColor(Qt::transparent));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    Cross(p, hot ? QColor(200, 200, 200) : QColor(Qt::white));
    return pm;
}

QPixmap PaintMinimize(bool hot)
{
    QPixmap pm = Blank(hot ? IDI_MINIMIZE_HOT : IDI_MINIMIZE, Qt::transparent);
    QPainter p(&pm);
    p.fillRect(QRect(3, 10, 10, 2), hot ? QColor(0, 40, 120) : QColor(Qt::white));
    return pm;
}

QPixmap PaintTriangle(bool right)
{
    QPixmap pm = Blank(right ? IDI_NEXT : IDI_PREVIOUS, Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    const QPolygonF tri = right ? QPolygonF({{11, 7}, {24, 16}, {11, 25}}) : QPolygonF({{21, 7}, {8, 16}, {21, 25}});
    p.drawPolygon(tri);
    return pm;
}

QPixmap PaintInformation()
{
    QPixmap pm = Blank(IDB_INFORMATION, Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(70, 150, 225));
    p.setBrush(QColor(110, 180, 240));
    p.drawEllipse(QRectF(1.5, 1.5, 33, 33));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(15.5, 7.5, 5, 5));
    p.drawRoundedRect(QRectF(15.75, 14.5, 4.5, 14), 1, 1);
    return pm;
}

QPixmap PaintDone()
{
    QPixmap pm = Blank(IDB_DONE, Qt::white);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 170, 70));
    p.drawEllipse(QRectF(0.5, 0.5, 30, 30));
    p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{8, 16}, {13, 21}, {23, 10}}));
    return pm;
}

// Seven-segment digits: bold white bars on the band's blue, readable from across the room and
// independent of the fonts installed. Segments a..g: top, upper right, lower right, bottom,
// lower left, upper left, middle.
QPixmap PaintDigit(int id, int digit)
{
    static constexpr const char* kSegments[] = {"", "bc", "abged", "abgcd", "fgbc"};
    QPixmap pm = Blank(id, Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    Tile(p, QRectF(0.5, 0.5, 79, 79), 8);

    constexpr double L = 22, R = 58, T = 10, B = 70, M = (T + B) / 2, t = 9, gap = 1.5;
    auto horizontal = [&](double y) { return QRectF(L + t / 2 + gap, y - t / 2, R - L - t - 2 * gap, t); };
    auto vertical = [&](double x, double y0, double y1) {
        return QRectF(x - t / 2, y0 + gap, t, y1 - y0 - 2 * gap);
    };
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (const char* s = kSegments[digit]; *s; ++s) {
        QRectF bar;
        switch (*s) {
        case 'a': bar = horizontal(T + t / 2); break;
        case 'b': bar = vertical(R - t / 2, T + t / 2, M); break;
        case 'c': bar = vertical(R - t / 2, M, B - t / 2); break;
        case 'd': bar = horizontal(B - t / 2); break;
        case 'e': bar = vertical(L + t / 2, M, B - t / 2); break;
        case 'f': bar = vertical(L + t / 2, T + t / 2, M); break;
        case 'g': bar = horizontal(M); break;
        }
        p.drawRoundedRect(bar, t / 2, t / 2);
    }
    return pm;
}

// The input whose digit the bitmap shows (1..4); 0 for any other resource.
int DigitOf(int id)
{
    for (int input = 1; input <= 4; ++input)
        if (DigitBitmap(input) == id)
            return input;
    return 0;
}

}  // namespace

int DigitBitmap(int input)
{
    switch (input) {
    case 1: return IDB_DIGIT_1;
    case 2: return IDB_DIGIT_2;
    case 3: return IDB_DIGIT_3;
    case 4: return IDB_DIGIT_4;
    default: return 0;
    }
}

QSize ResourceSize(int id)
{
    switch (id) {
    case IDI_CLOSE:
    case IDI_MINIMIZE:
    case IDI_MINIMIZE_HOT:
    case IDI_CLOSE_HOT:
        return {16, 16};
    case IDI_PROGRAM:
    case IDI_NEXT:
    case IDI_PREVIOUS:
        return {32, 32};
    case IDB_INFORMATION:
        return {36, 36};
    case IDB_DONE:
        return {31, 31};
    case IDB_DIGIT_1:
    case IDB_DIGIT_2:
    case IDB_DIGIT_3:
    case IDB_DIGIT_4:
        return {80, 80};
    default:
        return {};
    }
}

QPixmap ResourcePixmap(int id)
{
    if (const int digit = DigitOf(id))
        return PaintDigit(id, digit);
    switch (id) {
    case IDI_PROGRAM:
        return PaintProgram(ResourceSize(IDI_PROGRAM).width());
    case IDI_CLOSE:
        return PaintClose(false);
    case IDI_CLOSE_HOT:
        return PaintClose(true);
    case IDI_MINIMIZE:
        return PaintMinimize(false);
    case IDI_MINIMIZE_HOT:
        return PaintMinimize(true);
    case IDB_INFORMATION:
        return PaintInformation();
    case IDB_DONE:
        return PaintDone();
    case IDI_NEXT:
        return PaintTriangle(true);
    case IDI_PREVIOUS:
        return PaintTriangle(false);
    default:
        return {};
    }
}

QPixmap ProgramIcon(int size) { return PaintProgram(std::max(size, 1)); }

QString ResourceDescription(int id)
{
    if (const int digit = DigitOf(id))
        return QStringLiteral("Digit %1").arg(digit);
    switch (id) {
    case IDI_PROGRAM:
        return QStringLiteral("Program");
    case IDI_CLOSE:
    case IDI_CLOSE_HOT:
        return QStringLiteral("Close");
    case IDI_MINIMIZE:
    case IDI_MINIMIZE_HOT:
        return QStringLiteral("Minimize");
    case IDB_INFORMATION:
        return QStringLiteral("Information");
    case IDB_DONE:
        return QStringLiteral("Done");
    case IDI_NEXT:
        return QStringLiteral("Next");
    case IDI_PREVIOUS:
        return QStringLiteral("Previous");
    default:
        return {};
    }
}

}  // namespace corvane
