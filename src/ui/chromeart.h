#pragma once
#include <QIcon>
#include <QPixmap>

class QPainter;
class QRectF;

// The window's own artwork, drawn at run time: the tool-bar pictures and the
// glyphs of the three hot spots (help, minimise, exit).
namespace ChromeArt {

// Picture of tool-bar button `index` (0 add file, 1 add folder, 2 remove,
// 4 notice settings, 5 exit); a null icon for any other index.
QIcon toolbarIcon(int index);

enum class HotSpot { Help, Minimise, Exit };

// The lit picture of a hot spot, `size` pixels square.
QPixmap litPicture(HotSpot which, int size);

// The quiet glyph of a hot spot as part of the window background, inside `box`.
void drawRestGlyph(QPainter& p, HotSpot which, const QRectF& box);

}  // namespace ChromeArt
