#include "signal/ui/diagram.h"

#include <qcustomplot.h>

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
#include <fstream>

#include "gui/dlu.h"
#include "signal/ui/widgets.h"

using sigtest::BerHistory;
using sigui::Tag;

namespace {

// Decade labels as "1E-5".
class BerTicker : public QCPAxisTickerLog {
 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    return QStringLiteral("1E%1").arg(static_cast<int>(std::lround(std::log10(tick))));
  }
};

// The axis spans 1e-13 to 1e-4 and, beyond, whole decades reaching past
// every value drawn, so no lane ever lies on an edge.
std::pair<double, double> AxisRange(double low, double high) {
  double lower = BerHistory::kAxisMin, upper = BerHistory::kAxisMax;
  if (low > 0 && std::isfinite(low)) {
    double e = std::floor(std::log10(low));
    if (std::pow(10.0, e) >= low) e -= 1;
    lower = std::min(lower, std::pow(10.0, e));
  }
  if (high > 0 && std::isfinite(high)) {
    double e = std::ceil(std::log10(high));
    if (std::pow(10.0, e) <= high) e += 1;
    upper = std::max(upper, std::pow(10.0, e));
  }
  return {lower, upper};
}

QVector<double> ToQt(const std::vector<double>& v) { return QVector<double>(v.begin(), v.end()); }

QColor VerdictColour(sigtest::Verdict v) {
  switch (v) {
    case sigtest::Verdict::kPass:
      return sigui::GoodColour();
    case sigtest::Verdict::kFail:
      return sigui::BadColour();
    case sigtest::Verdict::kRunning:
      break;
  }
  return QColor(70, 70, 70);
}

}  // namespace

void CDiagram::MakeChart(int index) {
  const sigtest::ChartInfo& info = sigtest::kCharts[index];
  ChartParts& c = charts_[index];
  auto* plot = Tag(new QCustomPlot(this), kIdChart1 + index);
  c.plot = plot;
  plot->setMinimumSize(Dlu(250), Dlu(100));
  plot->setInteractions({});  // no zooming or panning
  plot->legend->setVisible(false);
  plot->setNoAntialiasingOnDrag(true);
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
  y->setRange(BerHistory::kAxisMin, BerHistory::kAxisMax);
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

  const QColor colour(info.Red(), info.Green(), info.Blue());
  c.measured = plot->addGraph();
  c.measured->setName("MSB");
  c.measured->setPen(QPen(colour, 3));
  c.measured->setLineStyle(QCPGraph::lsLine);
  c.measured->setScatterStyle(QCPScatterStyle::ssNone);
  c.measured->setAdaptiveSampling(false);  // the history hands over columns already
  c.bound = plot->addGraph();
  c.bound->setName("upper bound");
  c.bound->setPen(QPen(colour, 2, Qt::DashLine));
  c.bound->setLineStyle(QCPGraph::lsLine);
  c.bound->setScatterStyle(QCPScatterStyle::ssNone);
  c.bound->setAdaptiveSampling(false);

  QFont small = label_font;
  small.setPixelSize(11);
  c.target = new QCPItemStraightLine(plot);
  c.target->setPen(QPen(QColor(120, 120, 120), 1, Qt::DashDotLine));
  c.target_label = new QCPItemText(plot);
  c.target_label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
  c.target_label->position->setTypeY(QCPItemPosition::ptPlotCoords);
  c.target_label->position->setCoords(0.01, target_);
  c.target_label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
  c.target_label->setColor(QColor(110, 110, 110));
  c.target_label->setFont(small);

  c.bound_label = new QCPItemText(plot);
  c.bound_label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
  c.bound_label->setColor(colour.darker(130));
  c.bound_label->setFont(small);
  c.bound_label->setVisible(false);

  c.verdict = new QCPItemText(plot);
  c.verdict->position->setType(QCPItemPosition::ptAxisRectRatio);
  c.verdict->position->setCoords(0.99, 0.02);
  c.verdict->setPositionAlignment(Qt::AlignRight | Qt::AlignTop);
  QFont bold = small;
  bold.setBold(true);
  c.verdict->setFont(bold);
  c.verdict->setBrush(QColor(255, 255, 255, 210));
  c.verdict->setPadding(QMargins(3, 1, 3, 1));
  plot->installEventFilter(this);
  connect(plot, &QCustomPlot::afterLayout, this,
          [&c] { c.margin = c.plot->width() - c.plot->axisRect()->width(); });
}

CDiagram::CDiagram(const sigtest::BerHistory& history, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history) {
  setWindowTitle("Checker");
  auto* grid = new QGridLayout;
  grid->setSpacing(2);
  for (int i = 0; i < sigtest::kLanes; ++i) {
    MakeChart(i);
    grid->addWidget(charts_[i].plot, i % 4, i / 4);  // CH1-CH4 left, CH5-CH8 right
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
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export the charts"), "ber.png", "PNG (*.png)");
    if (!path.isEmpty() && !SavePng(path))
      QMessageBox::warning(this, windowTitle(), tr("Cannot write %1").arg(path));
  });
  connect(csv, &QPushButton::clicked, this, [this] {
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export the points"), "ber.csv", "CSV (*.csv)");
    if (!path.isEmpty() && !SaveCsv(path))
      QMessageBox::warning(this, windowTitle(), tr("Cannot write %1").arg(path));
  });
}

void CDiagram::ShowLane(int) {
  show();
  if (QWidget* top = parentWidget() ? parentWidget()->window() : nullptr)
    move(top->frameGeometry().center() - QPoint(width() / 2, height() / 2));
  raise();
}

void CDiagram::Refresh(const std::array<sigtest::LaneSummary, sigtest::kLanes>& by_chart,
                       double target) {
  target_ = target;
  for (int i = 0; i < sigtest::kLanes; ++i) {
    charts_[i].verdict->setText(QString::fromStdString(by_chart[i].line));
    charts_[i].verdict->setColor(VerdictColour(by_chart[i].verdict.verdict));
    charts_[i].verdict->setVisible(!by_chart[i].line.empty());
  }
  stale_ = true;
  if (isVisible()) RedrawAll();
}

int CDiagram::Columns(const ChartParts& c) const {
  // The axis rect's width in pixels: the plot's width less the margins of
  // its last layout.
  return std::max(16, c.plot->width() - c.margin);
}

void CDiagram::RedrawAll(bool immediate) {
  std::array<BerHistory::Drawn, sigtest::kLanes> drawn;
  double low = target_, high = target_;
  for (int i = 0; i < sigtest::kLanes; ++i) {
    // Values less than half a pixel apart on the current axis are one.
    const QCPAxis* y = charts_[i].plot->yAxis;
    const double pixels = std::max(1, y->axisRect()->height());
    const double same = std::pow(y->range().upper / y->range().lower, 0.5 / pixels);
    drawn[i] = history_.Decimate(i, Columns(charts_[i]), same);
    if (drawn[i].low <= drawn[i].high) {
      low = std::min(low, drawn[i].low);
      high = std::max(high, drawn[i].high);
    }
  }
  const auto [lower, upper] = AxisRange(low, high);
  for (int i = 0; i < sigtest::kLanes; ++i) {
    ChartParts& c = charts_[i];
    const BerHistory::Drawn& d = drawn[i];
    c.measured->setData(ToQt(d.measured.keys), ToQt(d.measured.values), true);
    c.bound->setData(ToQt(d.bound.keys), ToQt(d.bound.values), true);
    c.plot->xAxis->setRange(d.first, std::max<double>(d.last, d.first + 1.0));
    c.plot->yAxis->setRange(lower, upper);
    c.target->point1->setCoords(0, target_);
    c.target->point2->setCoords(1, target_);
    c.target_label->position->setCoords(0.01, target_);
    c.target_label->setText(
        QStringLiteral("target %1").arg(QString::fromStdString(sigtest::BerText(target_))));
    // "< bound" at the bound's latest column while the lane is still clean.
    c.bound_label->setVisible(false);
    const size_t points = history_.Size(i);
    const bool clean_now =
        points > 0 && history_.At(i, points - 1).kind == BerHistory::Kind::kBound;
    for (size_t k = d.bound.values.size(); clean_now && k-- > 0;) {
      if (std::isnan(d.bound.values[k])) continue;
      c.bound_label->position->setCoords(d.bound.keys[k], d.bound.values[k]);
      c.bound_label->setText(
          QStringLiteral("< %1").arg(QString::fromStdString(sigtest::BerText(d.bound.values[k]))));
      c.bound_label->setVisible(true);
      break;
    }
    c.plot->replot(immediate ? QCustomPlot::rpImmediateRefresh : QCustomPlot::rpQueuedReplot);
  }
  stale_ = false;
}

QString CDiagram::VerdictText(int index) const {
  return charts_[index].verdict->visible() ? charts_[index].verdict->text() : QString();
}

QString CDiagram::BoundLabel(int index) const {
  return charts_[index].bound_label->visible() ? charts_[index].bound_label->text() : QString();
}

bool CDiagram::SavePng(const QString& path) {
  // grab() paints the charts as they stand, hidden or shown.
  RedrawAll(true);
  QRect bounds;
  for (const ChartParts& c : charts_) bounds |= c.plot->geometry();
  return grab(bounds).save(path, "PNG");
}

bool CDiagram::SaveCsv(const QString& path) {
  std::ofstream file(QFile::encodeName(path).constData(), std::ios::binary | std::ios::trunc);
  return file && history_.WriteCsv(file);
}

void CDiagram::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (stale_) RedrawAll();
}

bool CDiagram::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    // New widths take new columns, once the layout has settled.
    stale_ = true;
    if (isVisible() && !rebuild_queued_) {
      rebuild_queued_ = true;
      QMetaObject::invokeMethod(
          this,
          [this] {
            rebuild_queued_ = false;
            RedrawAll(true);
          },
          Qt::QueuedConnection);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CDiagram::closeEvent(QCloseEvent* event) {
  // Closing hides the window; the history goes on filling for the next Show.
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
