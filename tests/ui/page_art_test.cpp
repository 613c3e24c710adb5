// The committed pixels of the views without Qt against the drawing they were made from: a change
// to either without `make page-art` fails here.
#include <gtest/gtest.h>

#include <QString>

#include "ui/PageArt.h"
#include "ui/PageArtPixels.h"

using namespace zel;

TEST(PageArt, PixelsAreTheDrawing) {
    const auto hex = [](uint32_t argb) { return QString::number(argb, 16).toStdString(); };
    for (const TPageControl& c : kPageControls) {
        if (c.Art == TArt::NoArt) continue;
        const int size = ArtSize(c);
        const TArtPixels* pixels = ArtPixels(c.Art);
        ASSERT_NE(pixels, nullptr) << c.Name << ": run make page-art";
        ASSERT_EQ(pixels->Size, size) << c.Name << ": run make page-art";
        const QImage drawn = DrawArt(c.Art, size, QColor::fromRgba(c.Back)).convertToFormat(QImage::Format_ARGB32);
        for (int i = 0; i < size * size; ++i)
            ASSERT_EQ(hex(pixels->Argb[i]), hex(drawn.pixel(i % size, i / size)))
                << c.Name << " at x " << i % size << ", y " << i / size << ": run make page-art";
    }
    EXPECT_EQ(ArtPixels(TArt::NoArt), nullptr);
}
