// Every control of the window and its dialogs has a name a screen reader
// can say; the window's buttons say what they do when pointed at.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <gtest/gtest.h>
#include <memory>

#include "qt/qt_dialogs.h"
#include "qt/qt_fixture.h"

namespace {

using zud::qt::ZudWindow;
using zud_test::QtWindow;

// The widgets a user reaches or reads: buttons, fields, panes, bars and
// groups; what Qt makes inside a scroll area (its bars, its viewport) is the
// area's own.
std::vector<QWidget*> controls(QWidget* root)
{
    std::vector<QWidget*> found;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
                             qobject_cast<QAbstractScrollArea*>(widget) || qobject_cast<QProgressBar*>(widget) ||
                             qobject_cast<QGroupBox*>(widget);
        if (control)
            found.push_back(widget);
    }
    return found;
}

std::string label_of(QWidget* widget)
{
    return std::string(widget->metaObject()->className()) + " '" + widget->objectName().toStdString() + "'";
}

TEST_F(QtWindow, every_control_has_a_name_and_the_window_buttons_a_tooltip)
{
    range.accept = false;
    ZudWindow window(parts(false));
    window.logic().initialize();
    const std::vector<QWidget*> found = controls(&window);
    EXPECT_GE(found.size(), 10u);   // the pane, the status and range lines, the bar, five buttons, the group
    for (QWidget* widget : found) {
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << label_of(widget);
        if (qobject_cast<QAbstractButton*>(widget) != nullptr) {
            EXPECT_FALSE(widget->toolTip().isEmpty()) << label_of(widget);
        }
    }
    EXPECT_FALSE(window.log_pane()->accessibleDescription().isEmpty());

    zud_test::ScriptedBox quiet;
    zud::qt::RangeDialogQt range_dialog(&window, quiet);
    zud::qt::AlphaDialog alpha(&window, 2.5);
    for (QWidget* dialog : {static_cast<QWidget*>(&range_dialog), static_cast<QWidget*>(&alpha)}) {
        const std::vector<QWidget*> fields = controls(dialog);
        EXPECT_GE(fields.size(), 3u);
        for (QWidget* widget : fields) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << label_of(widget);
        }
    }
    EXPECT_EQ(range_dialog.lower()->accessibleName().toStdString(), "Sieve from p, in billions");
    window.logic().close_request();
}

}  // namespace
