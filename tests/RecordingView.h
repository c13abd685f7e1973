#pragma once

#include "conversion/ProgressView.h"

#include <functional>
#include <string>
#include <vector>

namespace fanjian::testing {

// Records every call as "Operation" or "Operation text", and can act on a call (to throw, or to
// look at the disk in the middle of a run).
class RecordingView : public ProgressView {
public:
    std::vector<std::string> calls;
    std::function<void(const std::string& call)> onCall;

    void ClearSourceList() override { Record("ClearSourceList"); }
    void AddSourceListItem(std::string_view text) override { Record("AddSourceListItem " + std::string(text)); }
    void ClearResultList() override { Record("ClearResultList"); }
    void AddResultListItem(std::string_view text) override { Record("AddResultListItem " + std::string(text)); }
    void ShowStatus(std::string_view text) override { Record("ShowStatus " + std::string(text)); }
    void ShowFileName(std::string_view text) override { Record("ShowFileName " + std::string(text)); }
    void ShowFileCount(std::string_view text) override { Record("ShowFileCount " + std::string(text)); }
    void ShowCharacterCount(std::string_view text) override { Record("ShowCharacterCount " + std::string(text)); }
    void ProcessPendingEvents() override { Record("ProcessPendingEvents"); }

    // The calls that start with `prefix`, with the prefix and its space removed.
    std::vector<std::string> Texts(const std::string& operation) const
    {
        std::vector<std::string> texts;
        for (const std::string& call : calls) {
            if (call.rfind(operation + " ", 0) == 0)
                texts.push_back(call.substr(operation.size() + 1));
        }
        return texts;
    }

private:
    void Record(std::string call)
    {
        calls.push_back(call);
        if (onCall)
            onCall(calls.back());
    }
};

} // namespace fanjian::testing
