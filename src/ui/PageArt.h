#pragma once
// The page's pictures, drawn with Qt. The Qt view shows them as drawn; the views without Qt show
// the same pixels from PageArtPixels.h, which `make page-art` renders from here.
#include <QColor>
#include <QImage>

#include "ui/PageLayout.h"

namespace zel {

// Picture `art` on a `size` × `size` square of `background` (transparent where its alpha is 0),
// antialiased; NoArt is the bare square.
QImage DrawArt(TArt art, int size, QColor background);

// The size of row `c`'s picture: a button's is 16 × 16, a picture row's fills its square.
constexpr int ArtSize(const TPageControl& c) { return c.Kind == TControlKind::Button ? 16 : c.Width; }

}  // namespace zel
