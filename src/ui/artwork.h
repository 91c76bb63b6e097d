#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace dravion::ui {

// Pictures of the manager, drawn in code.

// Frame 0..3 of the busy animation (81 x 81): a radiation sign turning by 30 degrees per frame.
// Pure white is the transparent colour and comes out fully transparent.
QImage BusyFrame(int index);

// The about box picture (516 x 363) in Russian or English: the product name and the dosimeter.
QPixmap AboutPicture(bool russian);

// Images of the actions, by their index in the image list: 0 exit, 2 show log, 3 hide log,
// 4 clear log, 6 data from the Internet, 8 local data, 10 Russian, 11 English. Other indices
// give an empty icon.
QIcon ActionImage(int index);

// The window icon (64 x 64), and the same picture at `size` x `size` (the desktop's icons).
QIcon AppIcon();
QImage AppIconImage(int size);

}  // namespace dravion::ui
