// Charts of a run's rows, painted with QPainter onto any paint device: an SVG or PNG file, or a
// window. Chart 1 sets compression ratio against encode speed and marks the best trade-offs;
// chart 2, when a JPEG quality sweep ran, sets PSNR and SSIM of luma against bits per pixel.
// The same rows and title always give the same picture, and the same file bytes.
#pragma once
#include <QSize>
#include <QString>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "engine/run_host.h"

class QPainter;

namespace tallox {

struct SpeedRatio {
    double speed;
    double ratio;
};

// The points no other point beats, that is none is at least as fast and compresses at least as
// well and is better in one of the two; ordered by speed, slowest first (equal points by index).
std::vector<size_t> ParetoFront(std::span<const SpeedRatio> points);

// True when the rows hold JPEG rows at two settings or more with their quality figures.
bool HasQualitySweep(std::span<const Row> rows);

// Each chart's size: 800 x 500.
inline constexpr QSize kChartSize{800, 500};

// Chart 1, and chart 2 below it when a sweep ran; ChartsSize is the picture they fill from the
// painter's origin.
QSize ChartsSize(std::span<const Row> rows);
void PaintCharts(QPainter& painter, std::span<const Row> rows, const QString& title);
// Chart 1 alone, in a kChartSize area at the painter's origin.
void PaintSpeedChart(QPainter& painter, std::span<const Row> rows, const QString& title);

// "wood-512x512.bmp on <the processor>".
QString ChartTitle(const std::string& inputName);

// The charts written as SVG or PNG; false when the file cannot be written.
bool WriteChartSvg(const std::string& path, std::span<const Row> rows, const QString& title);
bool WriteChartPng(const std::string& path, std::span<const Row> rows, const QString& title);

}  // namespace tallox
