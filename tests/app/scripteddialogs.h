#pragma once

#include "app/dialogs.h"

#include <deque>
#include <string>
#include <vector>

// Stands in for the user at the message boxes: records every message and gives the
// answers queued by the test (the last offered button when none is queued).
class TScriptedDialogs final : public bw::TDialogs {
public:
    struct TShown {
        bw::TMessageKind Kind;
        std::string Caption;
        std::string Text;
    };

    void Show(bw::TMessageKind kind, const std::string& caption, const std::string& text) override {
        Shown.push_back({kind, caption, text});
    }
    bw::TAnswer Ask(bw::TMessageKind kind, const std::string& caption, const std::string& text,
                    const std::vector<bw::TAnswer>& buttons) override {
        Shown.push_back({kind, caption, text});
        if (!Answers.empty()) {
            const bw::TAnswer a = Answers.front();
            Answers.pop_front();
            return a;
        }
        return buttons.empty() ? bw::TAnswer::Ok : buttons.back();
    }

    std::vector<TShown> Shown;
    std::deque<bw::TAnswer> Answers;
};
