// Saving a plot as a picture: PNG, SVG or PDF by the file's extension, at
// the plot's size on the screen. The file is written whole or not at all.
#pragma once

#include <optional>

#include <QString>

class QCustomPlot;

namespace lorvane::display {

// Writes `plot` to `path`; on failure the reason, naming the file, and
// whatever was at `path` before is left as it was.
std::optional<QString> savePlot(QCustomPlot& plot, const QString& path);

} // namespace lorvane::display
