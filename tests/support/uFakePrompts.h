#pragma once
// Prompts answered by a test: messages recorded, questions, text and pickers answered from queues
// (No, cancel and an empty choice when a queue is empty).
#include <deque>
#include <string>
#include <vector>

#include "agent/uPrompts.h"

namespace egaiss::test {

class TFakePrompts final : public TPrompts {
public:
    void Message(TMessageKind kind, const std::string&, const std::string& text) override {
        Kinds.push_back(kind);
        Messages.push_back(text);
    }
    bool Confirm(const std::string&, const std::string& text) override {
        Questions.push_back(text);
        return Take(Answers, false);
    }
    std::string ClipboardText() override { return Clipboard; }
    std::string ChooseFolder(const std::string&, const std::string&) override {
        return Take(Folders, std::string());
    }
    std::string ChooseFile(const std::string&, const std::string&, const std::string&) override {
        return Take(Files, std::string());
    }
    bool InputText(const std::string&, const std::string&, std::string& text) override {
        Asked.push_back(text);
        if (Inputs.empty()) return false;
        text = Take(Inputs, std::string());
        return true;
    }

    std::vector<TMessageKind> Kinds;
    std::vector<std::string> Messages;
    std::vector<std::string> Questions;
    std::vector<std::string> Asked;  // the preset text of each text prompt
    std::deque<bool> Answers;
    std::deque<std::string> Folders, Files, Inputs;
    std::string Clipboard;

private:
    template <typename T>
    static T Take(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }
};

}  // namespace egaiss::test
