// A message box that records what it was asked and answers from a script;
// with the script used up it takes the default button.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "app/message_box.h"

namespace zud_test {

struct ShownBox {
    std::string text;
    zud::BoxIcon icon;
    zud::BoxButtons buttons;
    zud::BoxAnswer default_answer;
};

class ScriptedBox : public zud::MessageBox {
public:
    zud::BoxAnswer show(const std::string& text, zud::BoxIcon icon, zud::BoxButtons buttons,
                        zud::BoxAnswer default_answer) override
    {
        shown.push_back({text, icon, buttons, default_answer});
        if (answers.empty())
            return default_answer;
        zud::BoxAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    zud::BoxAnswer ask(zud::BoxQuestion which, const std::string& text, zud::BoxIcon icon, zud::BoxButtons buttons,
                       zud::BoxAnswer default_answer) override
    {
        asked.push_back(which);
        return show(text, icon, buttons, default_answer);
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& s : shown)
            out.push_back(s.text);
        return out;
    }

    std::deque<zud::BoxAnswer> answers;
    std::vector<ShownBox> shown;
    std::vector<zud::BoxQuestion> asked;   // the questions asked by name, also in `shown`
};

}  // namespace zud_test
