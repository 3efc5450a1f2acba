#include "gui/display/plot_export.h"

#include <QFileInfo>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

#include <qcustomplot.h>

namespace lorvane::display {

namespace {

// Paints the plot at its size onto `device`, scaled to fill it.
bool paintOnto(QCustomPlot& plot, QPaintDevice* device, int width, int height) {
    QCPPainter painter;
    if (!painter.begin(device)) return false;
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    plot.toPainter(&painter, width, height);
    return painter.end();
}

} // namespace

std::optional<QString> savePlot(QCustomPlot& plot, const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QString name = QFileInfo(path).fileName();
    if (suffix != QLatin1String("png") && suffix != QLatin1String("svg") &&
        suffix != QLatin1String("pdf"))
        return QObject::tr("Cannot save %1: give the file a .png, .svg or .pdf name.").arg(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QObject::tr("Cannot save %1: %2").arg(path, file.errorString());
    const int w = std::max(1, plot.width()), h = std::max(1, plot.height());
    bool painted = false;
    if (suffix == QLatin1String("png")) {
        painted = plot.toPixmap(w, h, 1.0).save(&file, "PNG");
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(QSize(w, h));
        svg.setViewBox(QRect(0, 0, w, h));
        svg.setTitle(name);
        painted = paintOnto(plot, &svg, w, h);
    } else {
        QPdfWriter pdf(&file);
        pdf.setTitle(name);
        pdf.setCreator(QStringLiteral("Lorvane"));
        pdf.setPageSize(QPageSize(QSizeF(w, h), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(72);
        painted = paintOnto(plot, &pdf, w, h);
    }
    if (!painted) {
        file.cancelWriting();
        return QObject::tr("Cannot save %1: the picture could not be drawn.").arg(path);
    }
    if (!file.commit()) return QObject::tr("Cannot save %1: %2").arg(path, file.errorString());
    return std::nullopt;
}

} // namespace lorvane::display
