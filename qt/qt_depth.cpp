// Options > "Stop when a factor takes longer than … s", and the estimate of
// the run's range on the range line's tooltip.
#include <QAction>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>

#include "app/factor_cost.h"
#include "qt/qt_window.h"

namespace zud::qt {

namespace {

QString depth_stop_caption(double seconds)
{
    if (seconds <= 0)
        return QStringLiteral("Stop when a factor takes longer than … s");
    return QStringLiteral("Stop when a factor takes longer than %1 s")
        .arg(QString::fromStdString(rounded_seconds(seconds)));
}

}  // namespace

void ZudWindow::build_depth_stop_item(QMenu* options)
{
    depth_stop_action_ = options->addAction(depth_stop_caption(0));
    depth_stop_action_->setObjectName(QStringLiteral("depth_stop"));
    depth_stop_action_->setCheckable(true);
    depth_stop_action_->setToolTip(QStringLiteral(
        "The time one primality test takes on one core of this machine: past the depth where a factor takes "
        "longer, a test removes a candidate sooner than the sieve does"));
    // The figure comes from the profile once the logic has read it.
    connect(options, &QMenu::aboutToShow, this, [this] {
        const double seconds = logic_->stop_seconds();
        depth_stop_action_->setText(depth_stop_caption(seconds));
        depth_stop_action_->setChecked(seconds > 0);
    });
    connect(depth_stop_action_, &QAction::triggered, this, &ZudWindow::choose_depth_stop);
}

// Asks for the seconds a test takes; 0 turns the stop off.
void ZudWindow::choose_depth_stop()
{
    const double now = logic_->stop_seconds();
    bool ok = false;
    const double seconds = QInputDialog::getDouble(
        this, QStringLiteral("Stop when a factor takes longer"),
        QStringLiteral("Seconds one primality test takes on one core (0: never stop):"), now > 0 ? now : 3000, 0,
        1e9, 0, &ok);
    if (ok)
        logic_->set_stop_seconds(seconds);
    depth_stop_action_->setText(depth_stop_caption(logic_->stop_seconds()));
    depth_stop_action_->setChecked(logic_->stop_seconds() > 0);
}

void ZudWindow::show_estimate(const std::string& text)
{
    range_->setToolTip(QString::fromStdString(text));
}

}  // namespace zud::qt
