// The program's own pictures, drawn at the size asked for: the postal mark, an outline of
// Japan, a light grid, the background that puts the first two on the grid, and the folders of
// the file chooser's folder list.
#pragma once

#include <QIcon>
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

// A folder, closed or open (the one whose contents are listed), at the sizes of a list's
// entries. Drawn here, not taken from the system's icon theme: the theme's first lookup in a
// process reads and parses the theme's whole index, some milliseconds each time the program
// first opens the file chooser.
QIcon Folder(bool open);

}  // namespace yubin::app::pictures
