#include "app/Pictures.h"

#include <QColor>

namespace yubin::app::pictures {

namespace {
QPixmap Filled(const QSize& size, const QColor& colour) {
    QPixmap pixmap(size);
    pixmap.fill(colour);
    return pixmap;
}
}  // namespace

QPixmap Background(const QSize& size) { return Filled(size, QColor(245, 250, 255)); }

QPixmap PostalMark(const QSize& size) { return Filled(size, Qt::transparent); }

QPixmap JapanOutline(const QSize& size) { return Filled(size, Qt::transparent); }

}  // namespace yubin::app::pictures
