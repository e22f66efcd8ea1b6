// What a screen reader says of each control: a name and, where the name
// alone does not tell what the control does, a description; and the
// tooltips of the main window's buttons.
#pragma once

class QWidget;

namespace zud::qt {

class ZudWindow;
class RangeDialogQt;
class AlphaDialog;

void describe_controls(ZudWindow& window);
void describe_controls(RangeDialogQt& dialog);
void describe_controls(AlphaDialog& dialog);

// Every button under `root` still without a name takes its caption, the
// mnemonic's "&" left out.
void name_buttons_by_caption(QWidget* root);

}  // namespace zud::qt
