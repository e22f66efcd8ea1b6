// Accessible names, descriptions and tooltips, kept apart from the layout
// so that each control's words are in one place.
#include "qt/qt_accessibility.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>

#include "qt/qt_dialogs.h"
#include "qt/qt_window.h"

namespace zud::qt {

namespace {

void describe(QWidget* widget, const QString& name, const QString& description = QString())
{
    widget->setAccessibleName(name);
    if (!description.isEmpty())
        widget->setAccessibleDescription(description);
}

// A button's tooltip is its description: the reader and the mouse tell the same.
void describe_button(QAbstractButton* button, const QString& name, const QString& description)
{
    describe(button, name, description);
    button->setToolTip(description);
}

}  // namespace

void name_buttons_by_caption(QWidget* root)
{
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->accessibleName().isEmpty())
            continue;
        QString caption = button->text();
        caption.remove(QRegularExpression(QStringLiteral("&(?!&)")));
        button->setAccessibleName(caption);
    }
}

void describe_controls(ZudWindow& window)
{
    describe(window.log_pane(), QStringLiteral("Log"),
             QStringLiteral("The factors found and what the sieve has done, newest last"));
    describe(window.status_line(), QStringLiteral("Status line"),
             QStringLiteral("The rate, the status, or the share done and time left; click for the next. "
                            "sec/n/k: the seconds between two factors times the number of k"));
    describe(window.range_line_field(), QStringLiteral("Range"), QStringLiteral("The range of p being sieved"));
    describe(window.progress_bar(), QStringLiteral("Share of the range done"));
    describe_button(window.start_button(), QStringLiteral("Start or stop"),
                    QStringLiteral("Start sieving the range, or stop and record where the sieve is (Enter)"));
    describe_button(window.pause_button(), QStringLiteral("Pause or resume"),
                    QStringLiteral("Pause the sieve where it is (it uses no processor time), or go on"));
    describe_button(window.priority_button(PriorityClass::high), QStringLiteral("High priority"),
                    QStringLiteral("The sieving threads at nice -10 (needs privilege)"));
    describe_button(window.priority_button(PriorityClass::normal), QStringLiteral("Normal priority"),
                    QStringLiteral("The sieving threads at nice 0"));
    describe_button(window.priority_button(PriorityClass::idle), QStringLiteral("Idle priority"),
                    QStringLiteral("The sieving threads at nice 19: only what nothing else wants"));
    for (QGroupBox* group : window.findChildren<QGroupBox*>())
        describe(group, group->title(), QStringLiteral("The priority of the sieving threads"));
    for (QMenuBar* bar : window.findChildren<QMenuBar*>()) {
        describe(bar, QStringLiteral("Menu"));
        // Qt's own button for the menus a narrow window cannot show.
        for (QAbstractButton* more : bar->findChildren<QAbstractButton*>())
            describe_button(more, QStringLiteral("More menus"), QStringLiteral("The menus the window is too narrow to show"));
    }
    name_buttons_by_caption(&window);
}

void describe_controls(RangeDialogQt& dialog)
{
    describe(dialog.lower(), QStringLiteral("Sieve from p, in billions"),
             QStringLiteral("The lower end of the range, a whole number of billions; 0 creates a new Zud.dat"));
    describe(dialog.upper(), QStringLiteral("To p, in billions"),
             QStringLiteral("The upper end of the range, a whole number of billions"));
    name_buttons_by_caption(&dialog);
}

void describe_controls(AlphaDialog& dialog)
{
    describe(dialog.field(), QStringLiteral("Alpha"), QStringLiteral("The search's tuning factor, 0.01 to 9.99"));
    for (QPlainTextEdit* text : dialog.findChildren<QPlainTextEdit*>())
        describe(text, QStringLiteral("What alpha does"));
    name_buttons_by_caption(&dialog);
}

}  // namespace zud::qt
