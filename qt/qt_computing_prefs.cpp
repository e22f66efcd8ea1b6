// The preferences dialog and the poll that applies them.
#include "qt/qt_computing_prefs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>

#include "qt/qt_window.h"

namespace zud::qt {

namespace {

QTime as_time(int minute)
{
    return minute < 0 ? QTime(0, 0) : QTime(minute / 60, minute % 60);
}

}  // namespace

ComputingPrefsDialog::ComputingPrefsDialog(QWidget* parent, const ComputingPrefs& prefs) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Computing preferences"));
    battery_ = new QCheckBox(QStringLiteral("Suspend while the computer is on &battery"), this);
    battery_->setChecked(prefs.suspend_on_battery);
    battery_->setToolTip(QStringLiteral("The sieve pauses while no mains supply is online and goes on when it is"));
    hours_ = new QCheckBox(QStringLiteral("Sieve only &between"), this);
    hours_->setChecked(prefs.from_minute >= 0);
    hours_->setToolTip(QStringLiteral("Outside these hours of the day the sieve pauses (22:00 to 07:00 runs overnight)"));
    from_ = new QTimeEdit(as_time(prefs.from_minute), this);
    until_ = new QTimeEdit(as_time(prefs.until_minute), this);
    for (QTimeEdit* edit : {from_, until_}) {
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
        edit->setEnabled(hours_->isChecked());
        connect(hours_, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    }
    from_->setAccessibleName(QStringLiteral("Sieve from, time of day"));
    until_->setAccessibleName(QStringLiteral("Sieve until, time of day"));
    battery_->setAccessibleName(QStringLiteral("Suspend while on battery"));
    hours_->setAccessibleName(QStringLiteral("Sieve only between two times of day"));
    auto* hours_row = new QHBoxLayout;
    hours_row->addWidget(hours_);
    hours_row->addWidget(from_);
    hours_row->addWidget(new QLabel(QStringLiteral("and"), this));
    hours_row->addWidget(until_);
    hours_row->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    for (QAbstractButton* button : buttons->buttons())
        button->setAccessibleName(button->text().remove(QLatin1Char('&')));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(battery_);
    layout->addLayout(hours_row);
    layout->addWidget(new QLabel(QStringLiteral("A suspended sieve is paused as by Pause; the status line says why."),
                                 this));
    layout->addWidget(buttons);
}

ComputingPrefs ComputingPrefsDialog::prefs() const
{
    ComputingPrefs prefs;
    prefs.suspend_on_battery = battery_->isChecked();
    if (hours_->isChecked()) {
        prefs.from_minute = from_->time().hour() * 60 + from_->time().minute();
        prefs.until_minute = until_->time().hour() * 60 + until_->time().minute();
    }
    return prefs;
}

void add_computing_prefs(ZudWindow& window, std::function<MachineState()> machine)
{
    QMenuBar* bar = window.findChild<QMenuBar*>();
    QMenu* options = nullptr;
    for (QAction* action : bar != nullptr ? bar->actions() : QList<QAction*>())
        if (action->text() == QStringLiteral("&Options"))
            options = action->menu();
    if (options == nullptr)
        return;
    QAction* item = options->addAction(QStringLiteral("&Computing preferences..."));
    item->setObjectName(QStringLiteral("computing_prefs"));
    auto apply = [&window, machine] {
        const ComputingPrefs prefs = computing_prefs_from_profile(window.profile());
        window.logic().computing_state(suspension_reason(prefs, machine()));
    };
    QObject::connect(item, &QAction::triggered, &window, [&window, apply] {
        ComputingPrefsDialog dialog(&window, computing_prefs_from_profile(window.profile()));
        if (dialog.exec() != QDialog::Accepted)
            return;
        save_computing_prefs(window.profile(), dialog.prefs());
        apply();
    });
    // Every few seconds: a plug pulled or an hour struck shows soon enough.
    auto* poll = new QTimer(&window);
    poll->setObjectName(QStringLiteral("computing_poll"));
    QObject::connect(poll, &QTimer::timeout, &window, apply);
    poll->start(5000);
}

}  // namespace zud::qt
