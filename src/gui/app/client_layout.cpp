#include "gui/app/client_layout.h"

#include <algorithm>

namespace lorvane::app {

namespace {

// The design's places: the plot at (144, 16), 609 x 577; the lap list at
// (8, 184), 409 high; the labels under the list.
constexpr int kChartLeft = 144, kChartTop = 16;
constexpr int kChartRightGap = kDesignClientWidth - (144 + 609);
constexpr int kChartBottomGap = kDesignClientHeight - (16 + 577);
constexpr int kListTop = 184, kListHeight = 409, kListMinHeight = 60;
constexpr int kMinTrackHeight = 160;
constexpr int kMinWidth = 600, kMinHeight = 440;
// The list ends 15 pixels above Label11 at the design size: it shrinks to
// its least height, then the labels move on up to 4 pixels under it.
constexpr int kMostDown = kListMinHeight - kListHeight - 11;

} // namespace

QSize minimumClientSize(const ClientMetrics& m) {
    const int strip = std::max(m.stripMinHeight, 1);
    // The labels' and the list's shift at the least height, and the track
    // plot's least height, both set a floor.
    const int forList = kDesignClientHeight + kStripGap + strip + kMostDown;
    const int forPlot = kChartTop + kMinTrackHeight + kChartBottomGap + kStripGap + strip;
    const int chartLeft = std::max(kChartLeft, 8 + m.listWidth + 23);
    return {std::max(kMinWidth, chartLeft + 200 + kChartRightGap),
            std::max({kMinHeight, forList, forPlot})};
}

ClientLayout layoutClient(QSize client, const ClientMetrics& m) {
    const QSize least = minimumClientSize(m);
    const int w = std::max(client.width(), least.width());
    const int h = std::max(client.height(), least.height());
    int room = h - kDesignClientHeight - kStripGap;
    if (m.stripWantHeight > kStripHeight)
        room = std::min(room - kMostDown,
                        h - kChartTop - kMinTrackHeight - kChartBottomGap - kStripGap);
    const int strip = std::max(m.stripMinHeight,
                               std::min(room, std::max(m.stripWantHeight, kStripHeight)));
    const int down = h - strip - kStripGap - kDesignClientHeight;
    const int right = w - kDesignClientWidth;
    const int chartLeft = std::max(kChartLeft, 8 + m.listWidth + 23);
    const int chartWidth = w - chartLeft - kChartRightGap;
    const int stripTop = kDesignClientHeight + down;

    ClientLayout l;
    l.lapList = QRect(8, kListTop, m.listWidth, std::max(kListMinHeight, kListHeight + down));
    l.trackPlot = QRect(chartLeft, kChartTop, chartWidth,
                        h - kChartTop - kChartBottomGap - strip - kStripGap);
    l.strip = QRect(chartLeft, stripTop, chartWidth, strip);
    l.compareBox = QRect(8, stripTop, chartLeft - 16, 24);
    l.versionLabel = QPoint(728 + right, 600 + down);
    l.noteLabel = QPoint(19, 608 + down);
    l.fileLabel = QPoint(19, 632 + down);
    return l;
}

} // namespace lorvane::app
