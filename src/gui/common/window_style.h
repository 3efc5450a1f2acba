// Small helpers shared by the windows to place their controls as designed:
// pixel positions in the client area, the 8 point sans serif window font.
#pragma once

#include <QColor>
#include <QFont>
#include <QSize>

class QLabel;
class QPushButton;
class QWidget;

namespace lorvane::app {

// The windows' default font: 8 point sans serif.
QFont designFont();
// Client size of a window designed with the given outer size (the frame and
// caption of the desktop it was designed on taken off).
QSize clientSizeFor(int outerWidth, int outerHeight);

// A label at (left, top), sized to its text; pointSize 0 keeps the window's.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int pointSize);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int left,
                        int top, int width, int height);
void setTextColour(QWidget* w, const QColor& colour);

} // namespace lorvane::app
