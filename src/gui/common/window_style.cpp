#include "gui/common/window_style.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

QPoint keptOnScreen(const QRect& frame, const QRect& area) {
    int x = frame.x(), y = frame.y();
    x = std::min(x, area.x() + area.width() - frame.width());
    y = std::min(y, area.y() + area.height() - frame.height());
    return {std::max(x, area.x()), std::max(y, area.y())};
}

QSize openingSize(QSize wanted, QSize least, QSize frame, const QRect& available) {
    const QSize room = available.size() - frame;
    return wanted.boundedTo(room).expandedTo(least);
}

void fitToScreen(QWidget* w) {
    QScreen* screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QSize frame = w->frameGeometry().size() - w->size();
    if (frame == QSize(0, 0)) {
        const QSize client = clientSizeFor(0, 0);
        frame = QSize(-client.width(), -client.height());
    }
    const QSize size = openingSize(w->size(), w->minimumSizeHint().expandedTo(w->minimumSize()),
                                   frame, area);
    if (size != w->size()) w->resize(size);
    // The frame's top left, from which the window's position is offset by
    // the caption and the border.
    const QPoint inset = w->geometry().topLeft() - w->frameGeometry().topLeft();
    const QPoint offset = inset.isNull()
                              ? QPoint(frame.width() / 2, frame.height() - frame.width() / 2)
                              : inset;
    QRect outer(QPoint(), size + frame);
    outer.moveCenter(area.center());
    w->move(keptOnScreen(outer, area) + offset);
}

void showSideWindow(QWidget* w, const QWidget* over) {
    const bool first = !w->property("lorvanePlaced").toBool();
    w->setProperty("lorvanePlaced", true);
    QScreen* screen = over && over->screen() ? over->screen() : QGuiApplication::primaryScreen();
    if (first && over) {
        const QRect o = over->frameGeometry();
        w->move(o.center() - QPoint(w->width() / 2, w->height() / 2));
    }
    w->show();
    if (screen) {
        // The frame is known once shown; its offset from pos() is the caption and border.
        const QRect frame = w->frameGeometry();
        const QPoint to = keptOnScreen(frame, screen->availableGeometry());
        if (to != frame.topLeft()) w->move(w->pos() + (to - frame.topLeft()));
    }
    w->raise();
    w->activateWindow();
}

} // namespace lorvane::app
