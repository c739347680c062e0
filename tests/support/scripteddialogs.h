#pragma once

#include "core/dialogs.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Stands in for the user at the message boxes: records every message and gives the
// answers queued by the test (when none is queued, what closing the box answers).
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
        if (WhileAsking)
            WhileAsking();
        if (!Answers.empty()) {
            const bw::TAnswer a = Answers.front();
            Answers.pop_front();
            return a;
        }
        return bw::ClosingAnswer(buttons);
    }

    std::vector<std::string> OpenFiles(const std::string& title,
                                       const std::vector<std::string>& filters) override {
        Shown.push_back({bw::TMessageKind::Information, title, "open files"});
        LastFilters = filters;
        auto files = NextFiles;
        NextFiles.clear();
        return files;
    }
    std::optional<std::string> BrowseForFolder(const std::string& prompt,
                                               const std::string& start) override {
        Shown.push_back({bw::TMessageKind::Information, prompt, start});
        auto folder = NextFolder;
        NextFolder.reset();
        return folder;
    }

    std::optional<size_t> ChooseLine(const std::string& caption, const std::vector<std::string>& lines) override {
        for (const std::string& line : lines)
            Shown.push_back({bw::TMessageKind::Confirmation, caption, line});
        auto chosen = NextLine;
        NextLine = 0;
        return chosen;
    }

    std::vector<TShown> Shown;
    std::optional<size_t> NextLine = 0;          // what the list chooser returns next (nullopt: Cancel)
    std::deque<bw::TAnswer> Answers;
    std::function<void()> WhileAsking;           // the user thinking a question over
    std::vector<std::string> NextFiles;          // what the open-file dialog returns next
    std::vector<std::string> LastFilters;        // the filters it was given
    std::optional<std::string> NextFolder;       // what the folder picker returns next
};
