#pragma once
// The program's pictures, drawn here with QPainter so that they are crisp at every size: the six status
// pictures of the main window, its banner and logo, and the program's icon (tray, window, about box).
#include <QIcon>
#include <QPixmap>

namespace zelto::gui {

// Status picture number n (0..5, see TStatusPicture) at size x size pixels.
QPixmap StatusPicture(int n, int size = 64);
// The strip across the top of the main window.
QPixmap BannerPicture(int width, int height);
// The maker's logo at the top right of the banner (drawn for a dark background).
QPixmap LogoPicture(int width, int height);
// The program's emblem at size x size.
QPixmap EmblemPicture(int size);
// The program's icon in the sizes a tray and a title bar ask for.
QIcon ProgramIcon();

}  // namespace zelto::gui
