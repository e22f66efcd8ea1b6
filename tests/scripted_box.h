// A message box that records what it was asked and answers from a script;
// with the script used up it takes the default button.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "data/message_box.h"

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
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& s : shown)
            out.push_back(s.text);
        return out;
    }

    std::deque<zud::BoxAnswer> answers;
    std::vector<ShownBox> shown;
};

}  // namespace zud_test
