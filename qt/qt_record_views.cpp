// The Factors table and the Progress picture, drawn with QPainter.
#include "qt/qt_record_views.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHeaderView>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "app/range_entry.h"
#include "qt/qt_window.h"

namespace zud::qt {

namespace {

// A cell that sorts by its number, not by its text.
QTableWidgetItem* number_item(qlonglong value)
{
    auto* item = new QTableWidgetItem;
    item->setData(Qt::DisplayRole, value);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QString when_text(std::time_t when)
{
    return when == 0 ? QString() : QDateTime::fromSecsSinceEpoch(when).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

struct Series {
    QString title;
    QString x_unit;
    QString y_unit;
    std::vector<std::vector<QPointF>> runs;   // each drawn as one line
};

QString short_figure(double v)
{
    if (std::abs(v) >= 1e12)
        return QString::number(v / 1e12, 'f', 2) + QStringLiteral(" trillion");
    if (std::abs(v) >= 1e9)
        return QString::number(v / 1e9, 'f', 2) + QStringLiteral(" billion");
    if (std::abs(v) >= 1e6)
        return QString::number(v / 1e6, 'f', 2) + QStringLiteral(" million");
    return QString::fromStdString(with_commas(static_cast<std::int64_t>(v)));
}

// One framed plot in `area`, its ends named in words.
void draw_series(QPainter& painter, const QRect& area, const Series& series, bool x_is_time)
{
    const QPalette palette = QApplication::palette();
    painter.setPen(palette.color(QPalette::WindowText));
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height();
    painter.drawText(area.left(), area.top() + line, series.title);
    const QRect plot = area.adjusted(metrics.horizontalAdvance(QStringLiteral("000.00 trillion")) + 6, line + 6, -10,
                                     -line - 6);
    painter.drawRect(plot);
    double x0 = 0, x1 = 0, y0 = 0, y1 = 0;
    bool any = false;
    for (const auto& run : series.runs)
        for (const QPointF& point : run) {
            x0 = any ? std::min(x0, point.x()) : point.x();
            x1 = any ? std::max(x1, point.x()) : point.x();
            y0 = any ? std::min(y0, point.y()) : point.y();
            y1 = any ? std::max(y1, point.y()) : point.y();
            any = true;
        }
    if (!any) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("Nothing recorded yet"));
        return;
    }
    y0 = std::min(y0, 0.0);
    if (x1 <= x0)
        x1 = x0 + 1;
    if (y1 <= y0)
        y1 = y0 + 1;
    const auto place = [&](const QPointF& point) {
        return QPointF(plot.left() + (point.x() - x0) / (x1 - x0) * plot.width(),
                       plot.bottom() - (point.y() - y0) / (y1 - y0) * plot.height());
    };
    painter.drawText(QRect(area.left(), plot.top(), plot.left() - area.left() - 4, line), Qt::AlignRight,
                     short_figure(y1));
    painter.drawText(QRect(area.left(), plot.bottom() - line, plot.left() - area.left() - 4, line), Qt::AlignRight,
                     short_figure(y0));
    const auto x_text = [&](double x) {
        return x_is_time ? when_text(static_cast<std::time_t>(x)) : QStringLiteral("p=") + short_figure(x);
    };
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignLeft, x_text(x0));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignRight, x_text(x1));
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), line), Qt::AlignHCenter, series.x_unit);
    painter.setPen(QPen(palette.color(QPalette::Highlight), 2));
    for (const auto& run : series.runs) {
        if (run.size() == 1) {
            painter.drawEllipse(place(run[0]), 2, 2);
            continue;
        }
        QPainterPath path(place(run.front()));
        for (std::size_t i = 1; i < run.size(); ++i)
            path.lineTo(place(run[i]));
        painter.drawPath(path);
    }
}

}  // namespace

FactorsView::FactorsView(QWidget* parent, const DataFolder& folder) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Factors - ") + QString::fromStdString(folder.shown()));
    setObjectName(QStringLiteral("factors_view"));
    const std::vector<FoundFactor> factors = range_factors(folder, read_sieve_history(folder));
    table_ = new QTableWidget(static_cast<int>(factors.size()), 4, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("p"), QStringLiteral("k"), QStringLiteral("n"),
                                       QStringLiteral("When found")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->setVisible(false);
    table_->setAccessibleName(QStringLiteral("Factors of the range"));
    for (int row = 0; row < static_cast<int>(factors.size()); ++row) {
        const FoundFactor& f = factors[static_cast<std::size_t>(row)];
        table_->setItem(row, 0, number_item(f.p));
        table_->setItem(row, 1, number_item(f.k));
        table_->setItem(row, 2, number_item(f.n));
        table_->setItem(row, 3, new QTableWidgetItem(when_text(f.when)));
    }
    table_->setSortingEnabled(true);
    table_->sortByColumn(0, Qt::AscendingOrder);
    table_->resizeColumnsToContents();
    auto* copy = new QPushButton(QStringLiteral("&Copy"), this);
    copy->setToolTip(QStringLiteral("The chosen rows, or all of them, onto the clipboard as factor lines"));
    copy->setAccessibleName(QStringLiteral("Copy"));
    connect(copy, &QPushButton::clicked, this, &FactorsView::copy_rows);
    auto* shortcut = new QShortcut(QKeySequence::Copy, table_);
    connect(shortcut, &QShortcut::activated, this, &FactorsView::copy_rows);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(copy, 0, Qt::AlignRight);
    resize(520, 420);
}

QString FactorsView::copied_text() const
{
    std::set<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        rows.insert(index.row());
    if (rows.empty())
        for (int row = 0; row < table_->rowCount(); ++row)
            rows.insert(row);
    QString text;
    for (int row : rows) {
        const FoundFactor f{table_->item(row, 0)->data(Qt::DisplayRole).toLongLong(),
                            static_cast<std::int32_t>(table_->item(row, 1)->data(Qt::DisplayRole).toInt()),
                            static_cast<std::int32_t>(table_->item(row, 2)->data(Qt::DisplayRole).toInt()), 0};
        text += QString::fromStdString(factor_text(f)) + QLatin1Char('\n');
    }
    return text;
}

void FactorsView::copy_rows()
{
    QApplication::clipboard()->setText(copied_text());
}

ProgressPicture::ProgressPicture(QWidget* parent, SieveHistory history, std::vector<FoundFactor> factors)
    : QWidget(parent), history_(std::move(history)), factors_(std::move(factors))
{
    setAccessibleName(QStringLiteral("Progress picture"));
    setAccessibleDescription(QStringLiteral("p reached over time, the rate over time, and the factors found over p"));
    setMinimumSize(480, 420);
}

void ProgressPicture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    Series reached{QStringLiteral("p reached"), QStringLiteral("time"), QString(), {}};
    Series rate{QStringLiteral("Rate (p/sec)"), QStringLiteral("time"), QString(), {}};
    for (std::size_t i = 0; i < history_.reached.size(); ++i) {
        const ReachedPoint& point = history_.reached[i];
        if (point.run_begins || reached.runs.empty()) {
            reached.runs.emplace_back();
            rate.runs.emplace_back();
        }
        reached.runs.back().emplace_back(static_cast<double>(point.when), static_cast<double>(point.p));
        if (i > 0 && !point.run_begins) {
            const ReachedPoint& before = history_.reached[i - 1];
            if (point.when > before.when && point.p >= before.p)
                rate.runs.back().emplace_back(static_cast<double>(point.when),
                                              static_cast<double>(point.p - before.p) /
                                                  static_cast<double>(point.when - before.when));
        }
    }
    Series found{QStringLiteral("Factors found"), QStringLiteral("p"), QString(), {{}}};
    std::vector<std::int64_t> ps;
    for (const FoundFactor& f : factors_)
        ps.push_back(f.p);
    std::sort(ps.begin(), ps.end());
    for (std::size_t i = 0; i < ps.size(); ++i)
        found.runs.back().emplace_back(static_cast<double>(ps[i]), static_cast<double>(i + 1));
    if (found.runs.back().empty())
        found.runs.clear();
    const int third = height() / 3;
    draw_series(painter, QRect(0, 0, width(), third).adjusted(6, 4, -6, -4), reached, true);
    draw_series(painter, QRect(0, third, width(), third).adjusted(6, 4, -6, -4), rate, true);
    draw_series(painter, QRect(0, 2 * third, width(), height() - 2 * third).adjusted(6, 4, -6, -4), found, false);
}

ProgressView::ProgressView(QWidget* parent, const DataFolder& folder) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Progress - ") + QString::fromStdString(folder.shown()));
    setObjectName(QStringLiteral("progress_view"));
    SieveHistory history = read_sieve_history(folder);
    std::vector<FoundFactor> factors = range_factors(folder, history);
    picture_ = new ProgressPicture(this, std::move(history), std::move(factors));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_);
}

void add_record_views(ZudWindow& window)
{
    QMenuBar* bar = window.findChild<QMenuBar*>();
    if (bar == nullptr)
        return;
    auto* view = new QMenu(QStringLiteral("&View"), bar);
    const QList<QAction*> menus = bar->actions();
    bar->insertMenu(menus.isEmpty() ? nullptr : menus.back(), view);
    QAction* factors = view->addAction(QStringLiteral("&Factors..."));
    factors->setObjectName(QStringLiteral("view_factors"));
    QObject::connect(factors, &QAction::triggered, &window, [&window] {
        auto* dialog = new FactorsView(&window, window.logic().folder());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
    QAction* progress = view->addAction(QStringLiteral("&Progress..."));
    progress->setObjectName(QStringLiteral("view_progress"));
    QObject::connect(progress, &QAction::triggered, &window, [&window] {
        auto* dialog = new ProgressView(&window, window.logic().folder());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
}

}  // namespace zud::qt
