#include "gui/common/window_style.h"

#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace lorvane::app {

QFont designFont() {
    QFont f(QStringLiteral("Sans Serif"), 8);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QSize clientSizeFor(int outerWidth, int outerHeight) {
    // A 4 pixel frame on every side and a 23 pixel caption.
    return {outerWidth - 8, outerHeight - 27};
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int pointSize) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    if (pointSize > 0) {
        QFont f = l->font();
        f.setPointSize(pointSize);
        l->setFont(f);
    }
    l->move(left, top);
    l->adjustSize();
    return l;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, int left, int top,
                        int width, int height) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(left, top, width, height);
    return b;
}

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

} // namespace lorvane::app
