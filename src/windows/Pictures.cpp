#include "windows/Pictures.h"

#include <algorithm>
#include <cmath>

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include "windows/JapanOutlineData.h"

namespace yubin::app::pictures {

namespace {

const QColor kPostRed(214, 36, 36);
const QColor kGridGround(246, 250, 255);
const QColor kGridLine(222, 232, 244);
const QColor kLand(206, 230, 200);
const QColor kCoast(96, 140, 96);
const QColor kFolderBack(226, 176, 48);
const QColor kFolderFront(250, 212, 96);
const QColor kFolderEdge(150, 108, 20);

QPixmap Transparent(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The mark in the square `box`: a red disc, and on it the sign of the post in white, a long
// bar over a shorter one with a stem hanging from the middle of the second.
void DrawPostalMark(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPostRed);
    painter.drawEllipse(box);
    const double unit = box.width() / 20.0;
    const QPointF origin = box.topLeft();
    auto bar = [&](double left, double top, double width, double height) {
        return QRectF(origin.x() + left * unit, origin.y() + top * unit, width * unit,
                      height * unit);
    };
    painter.setBrush(Qt::white);
    painter.drawRect(bar(4.5, 4.5, 11, 2));  // upper bar
    painter.drawRect(bar(4.5, 8.5, 11, 2));  // lower bar
    painter.drawRect(bar(9, 8.5, 2, 8));     // stem
    painter.restore();
}

// The coastline fitted into `area`, longitudes shortened by the cosine of the mean latitude.
QPainterPath OutlinePath(const QRectF& area) {
    QPainterPath path;
    const OutlineData& outline = kJapanOutline;
    if (outline.ringCount == 0) return path;
    double west = 180, east = -180, south = 90, north = -90;
    int total = 0;
    for (int ring = 0; ring < outline.ringCount; ++ring) total += outline.ringSizes[ring];
    for (int point = 0; point < total; ++point) {
        west = std::min<double>(west, outline.points[2 * point]);
        east = std::max<double>(east, outline.points[2 * point]);
        south = std::min<double>(south, outline.points[2 * point + 1]);
        north = std::max<double>(north, outline.points[2 * point + 1]);
    }
    const double squeeze = std::cos((south + north) / 2 * M_PI / 180);
    const double mapWidth = (east - west) * squeeze;
    const double mapHeight = north - south;
    const double scale = std::min(area.width() / mapWidth, area.height() / mapHeight);
    const double left = area.left() + (area.width() - mapWidth * scale) / 2;
    const double top = area.top() + (area.height() - mapHeight * scale) / 2;
    int point = 0;
    for (int ring = 0; ring < outline.ringCount; ++ring) {
        QPolygonF polygon;
        for (int n = 0; n < outline.ringSizes[ring]; ++n, ++point) {
            const double longitude = outline.points[2 * point];
            const double latitude = outline.points[2 * point + 1];
            polygon << QPointF(left + (longitude - west) * squeeze * scale,
                               top + (north - latitude) * scale);
        }
        path.addPolygon(polygon);
        path.closeSubpath();
    }
    return path;
}

void DrawOutline(QPainter& painter, const QRectF& area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kCoast, 1.0));
    painter.setBrush(kLand);
    painter.drawPath(OutlinePath(area));
    painter.restore();
}

void DrawGrid(QPainter& painter, const QSize& size) {
    painter.drawTiledPixmap(QRect(QPoint(0, 0), size), GridTile());
}

QRectF Square(const QSize& size) {
    const double side = std::min(size.width(), size.height());
    return QRectF((size.width() - side) / 2, (size.height() - side) / 2, side, side);
}

}  // namespace

QPixmap Background(const QSize& size, const QRect& mark) {
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    DrawGrid(painter, size);
    const QRectF whole(QPointF(0, 0), QSizeF(size));
    DrawOutline(painter, whole.adjusted(whole.width() * 0.05, whole.height() * 0.05,
                                        -whole.width() * 0.05, -whole.height() * 0.05));
    DrawPostalMark(painter, QRectF(mark));
    return pixmap;
}

QPixmap PostalMark(const QSize& size) {
    QPixmap pixmap = Transparent(size);
    QPainter painter(&pixmap);
    DrawPostalMark(painter, Square(size));
    return pixmap;
}

QPixmap JapanOutline(const QSize& size) {
    QPixmap pixmap = Transparent(size);
    QPainter painter(&pixmap);
    DrawOutline(painter, QRectF(QPointF(1, 1), QSizeF(size) - QSizeF(2, 2)));
    return pixmap;
}

QPixmap GridTile() {
    // One cell: the lines lie at the middle of each 16-pixel step, from the picture's origin.
    constexpr int kStep = 16;
    QPixmap tile(kStep, kStep);
    tile.fill(kGridGround);
    QPainter painter(&tile);
    painter.setPen(QPen(kGridLine, 1));
    painter.drawLine(kStep / 2, 0, kStep / 2, kStep - 1);
    painter.drawLine(0, kStep / 2, kStep - 1, kStep / 2);
    return tile;
}

QIcon Folder(bool open) {
    QIcon icon;
    for (const int side : {16, 32}) {
        QPixmap pixmap = Transparent(QSize(side, side));
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 16.0, side / 16.0);
        painter.setPen(QPen(kFolderEdge, 0.8));
        // The back with its tab, then the front: straight when closed, tilted open.
        QPainterPath back;
        back.moveTo(1.5, 3.5);
        back.lineTo(6, 3.5);
        back.lineTo(7.5, 5);
        back.lineTo(14.5, 5);
        back.lineTo(14.5, 13.5);
        back.lineTo(1.5, 13.5);
        back.closeSubpath();
        painter.setBrush(kFolderBack);
        painter.drawPath(back);
        painter.setBrush(kFolderFront);
        if (open) {
            painter.drawPolygon(QPolygonF(
                {QPointF(3.5, 7), QPointF(15.5, 7), QPointF(13.5, 13.5), QPointF(1.5, 13.5)}));
        } else {
            painter.drawRect(QRectF(1.5, 6.5, 13, 7));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap LightGrid(const QSize& size) {
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    DrawGrid(painter, size);
    return pixmap;
}

}  // namespace yubin::app::pictures
