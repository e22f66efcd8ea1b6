// The program's dialogs on Qt: the range dialog, "Set alpha", About and
// Help, laid out in dialog units of their font so the proportions hold.
#pragma once

#include <QDialog>
#include <QFont>
#include <QRect>

#include "app/message_box.h"
#include "engine/search/instruction_set.h"
#include "app/window_view.h"

class QLabel;
class QLineEdit;

namespace zud::qt {

// Windows-style dialog units: a quarter of the average character width
// and an eighth of the character height of the dialog's font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int base_x_;
    int base_y_;
};

QString resource_text(const QString& name);   // help.html, alpha.txt

class RangeDialogQt : public QDialog {
    Q_OBJECT
public:
    RangeDialogQt(QWidget* parent, MessageBox& box);
    QLineEdit* lower() const { return lower_; }
    QLineEdit* upper() const { return upper_; }
    QLabel* lower_reason() const { return lower_reason_; }
    QLabel* upper_reason() const { return upper_reason_; }
    QLabel* estimate() const { return estimate_; }
    // What the range as typed should give, below the fields as they change.
    void set_estimate(RangeDialog::Estimate estimate);
    std::int64_t pmin() const { return pmin_; }
    std::int64_t pmax() const { return pmax_; }
    void accept() override;   // the OK rule

private:
    MessageBox& box_;
    QLineEdit* lower_;
    QLineEdit* upper_;
    QLabel* lower_reason_;
    QLabel* upper_reason_;
    QLabel* estimate_;
    RangeDialog::Estimate estimate_of_;
    std::int64_t pmin_ = 0;
    std::int64_t pmax_ = 0;
};

// The window logic's range dialog: a fresh modal dialog per Start.
class QtRangeDialog : public RangeDialog {
public:
    QtRangeDialog(QWidget* parent, MessageBox& box) : parent_(parent), box_(box) {}
    bool run(std::int64_t& pmin, std::int64_t& pmax) override;
    void set_estimate(Estimate estimate) override { estimate_ = std::move(estimate); }

private:
    QWidget* parent_;
    MessageBox& box_;
    Estimate estimate_;
};

class AlphaDialog : public QDialog {
    Q_OBJECT
public:
    AlphaDialog(QWidget* parent, double alpha);
    double value() const { return value_; }
    QLineEdit* field() const { return field_; }
    QLabel* reason() const { return reason_; }
    void accept() override;   // the acceptance rule

private:
    double value_;
    QLineEdit* field_;
    QLabel* reason_;
};

QDialog* make_about_box(QWidget* parent, InstructionSet set);
QDialog* make_help_dialog(QWidget* parent);

}  // namespace zud::qt
