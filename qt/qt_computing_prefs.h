// Options > Computing preferences: suspend on battery, and the hours of the
// day the sieve may run; kept in the profile and asked every few seconds.
#pragma once

#include <QDialog>
#include <functional>

#include "app/computing_prefs.h"

class QCheckBox;
class QTimeEdit;

namespace zud::qt {

class ZudWindow;

class ComputingPrefsDialog : public QDialog {
    Q_OBJECT
public:
    ComputingPrefsDialog(QWidget* parent, const ComputingPrefs& prefs);
    ComputingPrefs prefs() const;
    QCheckBox* battery() const { return battery_; }
    QCheckBox* hours() const { return hours_; }
    QTimeEdit* from() const { return from_; }
    QTimeEdit* until() const { return until_; }

private:
    QCheckBox* battery_;
    QCheckBox* hours_;
    QTimeEdit* from_;
    QTimeEdit* until_;
};

// The menu item, and a timer that hands the verdict to the window logic;
// `machine` says what the machine is like now (a test gives a stand-in).
void add_computing_prefs(ZudWindow& window, std::function<MachineState()> machine = machine_state_now);

}  // namespace zud::qt
