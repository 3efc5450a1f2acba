// Where the main window's controls go in its client area: the lap list down
// the left, the track plot beside it and the strip chart under the plot, the
// version and file labels at the bottom. A pure function of the client's size
// and of what the fonts make some controls need, so that it can be tried at
// any size without building the window. At the design size, 803 x (652 + 170
// + 8), everything sits where the window was designed to put it.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace lorvane::app {

// The client area the window was designed for: the controls above the strip
// chart fill 803 x 652, the strip chart's 170 pixels come under them after a
// gap of 8.
inline constexpr int kDesignClientWidth = 803;
inline constexpr int kDesignClientHeight = 652;
inline constexpr int kStripHeight = 170;
inline constexpr int kStripGap = 8;
inline constexpr int kOpenClientHeight = kDesignClientHeight + kStripGap + kStripHeight;

// What the controls' fonts ask of the layout.
struct ClientMetrics {
    int listWidth = 113;      // the lap list, wide enough for its widest line
    int stripMinHeight = 110; // the strip chart's least height that stays readable
    // The height the strip chart would like: more than kStripHeight when it
    // stacks several panes, which it then takes from the track plot and the
    // lap list as far as they can give it.
    int stripWantHeight = kStripHeight;
};

struct ClientLayout {
    QRect lapList;       // LapTimeBox
    QRect trackPlot;     // Chart1
    QRect strip;         // Chart2
    QRect compareBox;    // CompareBox, level with the strip chart's top
    QPoint versionLabel; // Label10's top left
    QPoint noteLabel;    // Label11's
    QPoint fileLabel;    // FileNameLabel's
};

// The least client size at which nothing overlaps: the lap list keeps a few
// lines with the labels under it, the strip chart its readable height and the
// track plot some room; never less than 600 x 440.
QSize minimumClientSize(const ClientMetrics& m);

// The controls' places in a client area of `client` (taken as at least the
// minimum size). Below the opening height the strip chart gives way first,
// down to its readable height; then the track plot and the lap list shrink.
ClientLayout layoutClient(QSize client, const ClientMetrics& m);

} // namespace lorvane::app
