// The program's own pictures, drawn at the size asked for: the postal mark, an outline of
// Japan, a light grid, and the background that puts the first two on the grid.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QSize>

namespace yubin::app::pictures {

// A map of Japan with the postal mark on a light grid (the background of the windows); the
// mark fills the square `mark` (in the picture's pixels), which the window keeps free of
// controls so that the mark is seen whole.
QPixmap Background(const QSize& size, const QRect& mark);

// The postal mark alone, on a transparent ground.
QPixmap PostalMark(const QSize& size);

// The outline of Japan alone, on a transparent ground.
QPixmap JapanOutline(const QSize& size);

// A light grid of thin lines on a pale ground.
QPixmap LightGrid(const QSize& size);
// One cell of that grid: tiled from a picture's origin (as a widget's background brush, say),
// it draws the same grid without a picture of the whole size.
QPixmap GridTile();

}  // namespace yubin::app::pictures
