#include "signal/ui/diagram.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>
#include <qcustomplot.h>

#include "app/dlu.h"
#include "signal/line_check.h"
#include "signal/ui/widgets.h"

using sigui::Tag;

namespace {

// Decade labels as "1E-5".
class BerTicker : public QCPAxisTickerLog {
 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    return QStringLiteral("1E%1").arg(static_cast<int>(std::lround(std::log10(tick))));
  }
};

QCustomPlot* MakeChart(QWidget* parent, const sigtest::ChartInfo& info, int index, QCPGraph** graph) {
  auto* plot = Tag(new QCustomPlot(parent), CDiagram::kIdChart1 + index);
  plot->setMinimumSize(Dlu(250), Dlu(100));
  plot->setInteractions({});  // no zooming or panning
  plot->legend->setVisible(false);
  plot->setNoAntialiasingOnDrag(true);
  // A day holds 86,400 points a chart: fast polylines and no antialiasing of
  // the series keep a redraw of all eight charts within a frame.
  plot->setPlottingHint(QCP::phFastPolylines, true);
  plot->setNotAntialiasedElements(QCP::aePlottables);

  plot->plotLayout()->insertRow(0);
  auto* title = new QCPTextElement(plot, info.title);
  QFont font = title->font();
  font.setPixelSize(16);
  title->setFont(font);
  // Charts 1 and 5 carry their titles on the left.
  if (index == 0 || index == 4) title->setTextFlags(Qt::AlignLeft | Qt::AlignVCenter);
  plot->plotLayout()->addElement(0, 0, title);

  QCPAxis* y = plot->yAxis;
  y->setScaleType(QCPAxis::stLogarithmic);
  y->setTicker(QSharedPointer<QCPAxisTicker>(new BerTicker));
  y->setRange(sigtest::BerHistory::kAxisMin, sigtest::BerHistory::kAxisMax);
  QFont label_font = y->tickLabelFont();
  label_font.setPixelSize(13);
  y->setTickLabelFont(label_font);
  plot->xAxis->setTickLabelFont(label_font);
  // Whole seconds on the bottom axis.
  auto seconds = QSharedPointer<QCPAxisTickerFixed>::create();
  seconds->setTickStep(1);
  seconds->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
  plot->xAxis->setTicker(seconds);
  plot->xAxis->setRange(0, 1);
  plot->yAxis2->setVisible(true);  // the right wall
  plot->yAxis2->setTickLabels(false);
  plot->yAxis2->setTicks(false);

  *graph = plot->addGraph();
  (*graph)->setName("MSB");
  (*graph)->setPen(QPen(QColor(info.Red(), info.Green(), info.Blue()), 3));
  (*graph)->setLineStyle(QCPGraph::lsLine);
  (*graph)->setScatterStyle(QCPScatterStyle::ssNone);
  (*graph)->setAdaptiveSampling(true);
  return plot;
}

}  // namespace

CDiagram::CDiagram(const sigtest::LineCheck& source, QWidget* parent)
    : QWidget(parent, Qt::Window), source_(source) {
  setWindowTitle("Checker");
  auto* grid = new QGridLayout;
  grid->setSpacing(2);
  for (int i = 0; i < sigtest::kLanes; ++i) {
    charts_[i] = MakeChart(this, sigtest::kCharts[i], i, &graphs_[i]);
    grid->addWidget(charts_[i], i % 4, i / 4);  // CH1-CH4 left, CH5-CH8 right
    key_range_[i] = {0, 0};
  }
  auto* png = Tag(new QPushButton(tr("Export PNG..."), this), kIdExportPng);
  auto* csv = Tag(new QPushButton(tr("Export CSV..."), this), kIdExportCsv);
  for (auto* b : {png, csv}) b->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(png);
  buttons->addWidget(csv);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(buttons);

  connect(png, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the charts"), "ber.png", "PNG (*.png)");
    if (!path.isEmpty() && !SavePng(path))
      QMessageBox::warning(this, windowTitle(), tr("Cannot write %1").arg(path));
  });
  connect(csv, &QPushButton::clicked, this, [this] {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the points"), "ber.csv", "CSV (*.csv)");
    if (!path.isEmpty() && !SaveCsv(path))
      QMessageBox::warning(this, windowTitle(), tr("Cannot write %1").arg(path));
  });
  timer_.setInterval(kTimerMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (isVisible()) AddPoints();
  });
}

void CDiagram::ShowLane(int) {
  timer_.start();
  show();
  if (QWidget* top = parentWidget() ? parentWidget()->window() : nullptr)
    move(top->frameGeometry().center() - QPoint(width() / 2, height() / 2));
  raise();
}

void CDiagram::AddPoints() {
  for (int chart = 0; chart < sigtest::kLanes; ++chart) {
    const auto& lane = source_.Lane(sigtest::kCharts[chart].lane);
    AddPoint(chart, lane.seconds, lane.ber, false);
  }
  RedrawAll();
}

void CDiagram::AddPoint(int chart, uint32_t seconds, double ber, bool redraw) {
  history_.Add(chart, seconds, ber);
  const double x = seconds;
  graphs_[chart]->addData(x, sigtest::BerHistory::Plotted(ber));
  auto& range = key_range_[chart];
  if (history_.Points(chart).size() == 1) range = {x, x};
  range.first = std::min(range.first, x);
  range.second = std::max(range.second, x);
  charts_[chart]->xAxis->setRange(range.first, std::max(range.second, range.first + 1));
  if (redraw) charts_[chart]->replot(QCustomPlot::rpQueuedReplot);
}

void CDiagram::RedrawAll() {
  for (auto* chart : charts_) chart->replot(QCustomPlot::rpQueuedReplot);
}

bool CDiagram::SavePng(const QString& path) {
  // grab() paints the charts as they stand, hidden or shown.
  for (auto* chart : charts_) chart->replot(QCustomPlot::rpImmediateRefresh);
  QWidget* area = charts_[0]->parentWidget();
  QRect bounds;
  for (auto* chart : charts_) bounds |= chart->geometry();
  return area->grab(bounds).save(path, "PNG");
}

bool CDiagram::SaveCsv(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const std::string text = history_.Csv();
  return file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

void CDiagram::closeEvent(QCloseEvent* event) {
  // Closing hides the window; it stays, with its points, for the next Show.
  timer_.stop();
  event->accept();
}

void CDiagram::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      event->accept();  // swallowed
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}
