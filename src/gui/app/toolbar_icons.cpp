#include "gui/app/toolbar_icons.hpp"

#include "gui/app/command_ids.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace quarv {
namespace {

constexpr int kSize = 24;
const QColor kInk(40, 48, 60);
const QColor kBlue(30, 110, 200);
const QColor kRed(200, 40, 40);
const QColor kGreen(30, 140, 70);

void arrowHead(QPainter& p, QPointF tip, double angleRad, double len = 4.5) {
    const QPointF a = tip - QPointF(std::cos(angleRad - 0.5) * len, std::sin(angleRad - 0.5) * len);
    const QPointF b = tip - QPointF(std::cos(angleRad + 0.5) * len, std::sin(angleRad + 0.5) * len);
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(a);
    path.lineTo(b);
    path.closeSubpath();
    p.fillPath(path, p.pen().color());
}

void page(QPainter& p) {
    QPainterPath path;
    path.moveTo(5, 2);
    path.lineTo(15, 2);
    path.lineTo(20, 7);
    path.lineTo(20, 22);
    path.lineTo(5, 22);
    path.closeSubpath();
    p.fillPath(path, QColor(250, 250, 245));
    p.drawPath(path);
    p.drawLine(QPointF(15, 2), QPointF(15, 7));
    p.drawLine(QPointF(15, 7), QPointF(20, 7));
}

void digit(QPainter& p, const QString& text, QRectF where, QColor colour) {
    QFont f = p.font();
    f.setPixelSize(10);
    f.setBold(true);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(where, Qt::AlignCenter, text);
}

void ruler(QPainter& p) {
    p.save();
    p.translate(12, 12);
    p.rotate(-35);
    p.setBrush(QColor(240, 200, 90));
    p.drawRect(QRectF(-10, -3.5, 20, 7));
    for (int i = -8; i <= 8; i += 3) p.drawLine(QPointF(i, -3.5), QPointF(i, i % 2 ? -0.5 : 0.5));
    p.restore();
}

void crosshair(QPainter& p, QColor colour) {
    p.setPen(QPen(colour, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
    p.drawLine(QPointF(10, 1), QPointF(10, 6));
    p.drawLine(QPointF(10, 14), QPointF(10, 19));
    p.drawLine(QPointF(1, 10), QPointF(6, 10));
    p.drawLine(QPointF(14, 10), QPointF(19, 10));
    p.setBrush(colour);
    p.drawEllipse(QPointF(10, 10), 1.6, 1.6);
}

void draw(QPainter& p, int id) {
    p.setPen(QPen(kInk, 1.4));
    switch (id) {
    case ID_PROCESS_TOOLBAR: { // a recording turned into points
        page(p);
        p.setPen(Qt::NoPen);
        const QPointF dots[] = {{8, 11}, {11, 14}, {14, 10}, {9, 17}, {13, 18}, {17, 15}};
        for (const auto& d : dots) {
            p.setBrush(kBlue);
            p.drawEllipse(d, 1.4, 1.4);
        }
        break;
    }
    case ID_RESET_CAMERA: { // a circular arrow round the home position
        p.setPen(QPen(kBlue, 2.0));
        p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 280 * 16);
        arrowHead(p, QPointF(17.5, 4.8), 0.35);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawEllipse(QPointF(12, 12), 2.2, 2.2);
        break;
    }
    case ID_TRANSLATE_MOTION: { // four-way arrows
        p.setPen(QPen(kInk, 1.8));
        p.drawLine(QPointF(12, 3), QPointF(12, 21));
        p.drawLine(QPointF(3, 12), QPointF(21, 12));
        arrowHead(p, QPointF(12, 2), -M_PI / 2);
        arrowHead(p, QPointF(12, 22), M_PI / 2);
        arrowHead(p, QPointF(2, 12), M_PI);
        arrowHead(p, QPointF(22, 12), 0);
        break;
    }
    case ID_ROTATION_MOTION: { // an orbit arrow about a centre
        p.setPen(QPen(kInk, 1.8));
        p.drawArc(QRectF(3, 6, 18, 12), 200 * 16, 300 * 16);
        arrowHead(p, QPointF(4.2, 14.6), 1.9);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 12), 2.5, 2.5);
        break;
    }
    case ID_MEASURE_FIRST:
    case ID_MEASURE_SECOND:
        ruler(p);
        digit(p, id == ID_MEASURE_FIRST ? QStringLiteral("1") : QStringLiteral("2"),
              QRectF(13, 13, 11, 11), kRed);
        break;
    case ID_TARGET_FIRST:
    case ID_TARGET_SECOND:
        crosshair(p, kGreen);
        digit(p, id == ID_TARGET_FIRST ? QStringLiteral("1") : QStringLiteral("2"),
              QRectF(13, 13, 11, 11), kRed);
        break;
    case ID_POINT_INFO: { // "i" in a circle
        p.setPen(QPen(kBlue, 1.6));
        p.setBrush(QColor(235, 243, 255));
        p.drawEllipse(QPointF(12, 12), 9, 9);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QPointF(12, 7.5), 1.5, 1.5);
        p.drawRect(QRectF(10.8, 10, 2.4, 8));
        break;
    }
    case ID_CENTRE_OF_ROTATION: { // a picked point with an orbit round it
        p.setPen(QPen(kInk, 1.3, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(12, 12), 9.5, 5.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawEllipse(QPointF(12, 12), 3, 3);
        break;
    }
    case ID_FILE_INFO: { // a page of text lines
        page(p);
        p.setPen(QPen(kBlue, 1.2));
        for (int y = 10; y <= 19; y += 3) p.drawLine(QPointF(8, y), QPointF(17, y));
        break;
    }
    case ID_LAYER_STATISTICS: { // a histogram
        p.setPen(Qt::NoPen);
        const double heights[] = {5, 11, 16, 12, 6};
        for (int i = 0; i < 5; ++i) {
            p.setBrush(i == 2 ? kRed : kBlue);
            p.drawRect(QRectF(3 + i * 3.8, 21 - heights[i], 3.2, heights[i]));
        }
        p.setPen(QPen(kInk, 1.2));
        p.drawLine(QPointF(2, 21.5), QPointF(22, 21.5));
        break;
    }
    default:
        p.drawRect(QRectF(4, 4, 16, 16));
    }
}

} // namespace

QIcon toolbarIcon(int id) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(kSize * scale, kSize * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p, id);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace quarv
