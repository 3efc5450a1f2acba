// Small helpers shared by the windows to place their controls at fixed
// pixel positions in the client area, in the 8 point sans serif window font.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

class QLabel;
class QPushButton;
class QWidget;

namespace lorvane::app {

// The windows' default font: 8 point sans serif.
QFont designFont();
// Client size of a window of the given outer size, less a fixed allowance
// for the frame and caption.
QSize clientSizeFor(int outerWidth, int outerHeight);

// A label at (left, top), sized to its text; pointSize 0 keeps the window's.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int pointSize);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int left, int top,
                        int width, int height);
void setTextColour(QWidget* w, const QColor& colour);

// Where a window whose frame is `frame` goes so that all of it lies in
// `area` (a screen's available part): moved in as little as it takes, its
// top left corner kept in view when it is larger than the area.
QPoint keptOnScreen(const QRect& frame, const QRect& area);

// The outer size a window that would like to be `wanted` opens at in
// `available` (a screen's free part): no wider nor taller than the area, but
// never below `least`, the window's minimum size. `frame` is what the
// caption and borders add to the window's size.
QSize openingSize(QSize wanted, QSize least, QSize frame, const QRect& available);

// Makes a top-level window that is about to be shown fit the free part of its
// screen (shrunk to it when larger, at the user's display scaling say) and
// places it in the middle of it, its caption in view. Before the window is
// first shown its frame is not known yet: a usual caption and border are
// allowed for.
void fitToScreen(QWidget* w);

// Shows a side window and brings it to the front, wholly on the screen
// `over` is on. The first time it is shown it opens over the middle of
// `over` (when given); later it keeps where the user left it, brought back
// onto the screen if need be.
void showSideWindow(QWidget* w, const QWidget* over);

} // namespace lorvane::app
