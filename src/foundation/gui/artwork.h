#pragma once

#include <QIcon>
#include <QSize>

class QPainter;

// The program's artwork, painted rather than shipped as pictures so that it
// stays sharp and small.
namespace sorna::artwork {

// The 32 x 32 icon of the windows and the tray.
QIcon appIcon();
void paintEmblem(QPainter& p, const QRectF& box);
void paintLoginBackground(QPainter& p, const QSize& size);
// Title band and the two section headings of the main window; the panel's
// rows are painted by the panel.
void paintMainBackground(QPainter& p, const QSize& size);

inline const QColor kNavy(0x1b, 0x2a, 0x4a);
inline const QColor kSlateBlue(0x4f, 0x67, 0x8c);
inline const QColor kYellow(0xff, 0xd4, 0x00);

} // namespace sorna::artwork
