// The platform's message box and wait cursor, as the program uses them: the
// Qt window, the console and the tests each provide one.
#pragma once

#include <string>

namespace zud {

enum class BoxIcon { none, warning, question };
enum class BoxButtons { ok, ok_cancel, yes_no };
enum class BoxAnswer { ok, cancel, yes, no };
// The questions that a command line may have answered before they are
// asked (--yes): a box in between knows them by name, never by their text.
enum class BoxQuestion { results_handed_over };

class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Shows text with the icon and buttons and waits for the user's answer;
    // `default_answer` is the button that Enter (or no answer) takes.
    virtual BoxAnswer show(const std::string& text, BoxIcon icon, BoxButtons buttons, BoxAnswer default_answer) = 0;
    // The question `which`, shown as show() shows any other.
    virtual BoxAnswer ask([[maybe_unused]] BoxQuestion which, const std::string& text, BoxIcon icon,
                          BoxButtons buttons, BoxAnswer default_answer)
    {
        return show(text, icon, buttons, default_answer);
    }

    // A question of the program's own whose two answers are named on their
    // buttons ("Start anyway", "Cancel"): `ok_label` answers ok, the other
    // cancel. Where buttons cannot be named, the OK/Cancel box.
    virtual BoxAnswer ask_named(const std::string& text, const std::string& ok_label, const std::string& cancel_label,
                                BoxAnswer default_answer)
    {
        (void)ok_label, (void)cancel_label;
        return show(text, BoxIcon::question, BoxButtons::ok_cancel, default_answer);
    }

    void warn(const std::string& text) { show(text, BoxIcon::warning, BoxButtons::ok, BoxAnswer::ok); }
    void inform(const std::string& text) { show(text, BoxIcon::none, BoxButtons::ok, BoxAnswer::ok); }
    // A problem the program works around by itself (it keeps retrying): a
    // warning in a window, a line on the error output in a console.
    virtual void alert(const std::string& text) { warn(text); }
};

class WaitCursor {
public:
    virtual ~WaitCursor() = default;
    virtual void begin() = 0;
    virtual void end() = 0;
};

// Shows the wait cursor for a scope.
class WaitCursorScope {
public:
    explicit WaitCursorScope(WaitCursor& cursor) : cursor_(cursor) { cursor_.begin(); }
    ~WaitCursorScope() { cursor_.end(); }
    WaitCursorScope(const WaitCursorScope&) = delete;
    WaitCursorScope& operator=(const WaitCursorScope&) = delete;

private:
    WaitCursor& cursor_;
};

}  // namespace zud
