// The program's icon: a tally of four strokes crossed by a fifth on a teal
// tile, drawn in code so that every size is crisp and the installed icon
// files come from the same drawing.
//
//   window->setWindowIcon(tallyfold::AppIcon());          // all nine sizes
//   tallyfold::DrawAppIcon(48).save(u"tallyfold.png"_s);
#pragma once

#include <array>

#include <QIcon>
#include <QImage>

namespace tallyfold {

// The pixel sizes the icon carries, from the smallest task-bar size up to
// the largest launcher size.
inline constexpr std::array<int, 9> kAppIconSizes = {16, 20, 24, 32, 40,
                                                     48, 64, 128, 256};

// The icon drawn at `size` × `size` pixels on a transparent background.
QImage DrawAppIcon(int size);

// The icon with one image for each of kAppIconSizes.
QIcon AppIcon();

}  // namespace tallyfold
