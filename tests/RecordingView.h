#pragma once

#include "conversion/ProgressView.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fanjian::testing {

// Records every call as "Operation" or "Operation text", and can act on a call (to throw, or to
// look at the disk in the middle of a run).
//
// A big run makes millions of ShowCharacterCount + ProcessPendingEvents pairs, one per replaced
// character. With countsOnly set, those pairs are counted (countCalls, lastCount) instead of kept;
// every other call is kept as before. The hook sees every call, counts included.
class RecordingView : public ProgressView {
public:
    std::vector<std::string> calls;
    std::function<void(std::string_view operation, std::string_view text)> onCall;
    bool countsOnly = false;
    std::uint64_t countCalls = 0;
    std::string lastCount;

    void ClearSourceList() override { Record("ClearSourceList", {}); }
    void AddSourceListItem(std::string_view text) override { Record("AddSourceListItem", text); }
    void ClearResultList() override { Record("ClearResultList", {}); }
    void AddResultListItem(std::string_view text) override { Record("AddResultListItem", text); }
    void ShowStatus(std::string_view text) override { Record("ShowStatus", text); }
    void ShowFileName(std::string_view text) override { Record("ShowFileName", text); }
    void ShowFileCount(std::string_view text) override { Record("ShowFileCount", text); }
    void ShowFileReading(Reading reading) override
    {
        Record("ShowFileReading", reading == Reading::Utf8                   ? "UTF-8"
                                  : reading == Reading::CodePageDeclaredUtf8 ? "declared UTF-8"
                                                                             : "code page");
    }
    void AddSkippedItem(std::string_view item, std::string_view reason) override
    {
        Record("AddSkippedItem", std::string(item) + "\n" + std::string(reason));
    }

    void ShowCharacterCount(std::string_view text) override
    {
        ++countCalls;
        lastCount.assign(text);
        if (!countsOnly) {
            Record("ShowCharacterCount", text);
            return;
        }
        afterCount_ = true;
        if (onCall)
            onCall("ShowCharacterCount", text);
    }

    void ProcessPendingEvents() override
    {
        if (afterCount_) {
            // The second half of a count pair: counted with it, not kept.
            afterCount_ = false;
            if (onCall)
                onCall("ProcessPendingEvents", {});
            return;
        }
        Record("ProcessPendingEvents", {});
    }

    // The texts of the calls to `operation`, in order.
    std::vector<std::string> Texts(std::string_view operation) const
    {
        std::vector<std::string> texts;
        for (const std::string& call : calls) {
            if (call.size() > operation.size() && call.compare(0, operation.size(), operation) == 0 &&
                call[operation.size()] == ' ')
                texts.push_back(call.substr(operation.size() + 1));
        }
        return texts;
    }

private:
    void Record(std::string_view operation, std::string_view text)
    {
        afterCount_ = false;
        std::string call(operation);
        if (operation.rfind("Clear", 0) != 0 && operation != "ProcessPendingEvents") {
            call += ' ';
            call += text;
        }
        calls.push_back(std::move(call));
        if (onCall)
            onCall(operation, text);
    }

    bool afterCount_ = false;
};

} // namespace fanjian::testing
