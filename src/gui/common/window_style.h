// Small helpers shared by the windows to place their controls at fixed
// pixel positions in the client area, in the 8 point sans serif window font.
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
// Client size of a window of the given outer size, less a fixed allowance
// for the frame and caption.
QSize clientSizeFor(int outerWidth, int outerHeight);

// A label at (left, top), sized to its text; pointSize 0 keeps the window's.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int pointSize);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int left, int top,
                        int width, int height);
void setTextColour(QWidget* w, const QColor& colour);

} // namespace lorvane::app
