#pragma once

#include <string_view>

namespace fanjian {

// What a conversion run shows while it goes on. The run composes every text complete (UTF-8);
// a view shows it as given. A view may throw to abandon the run (the program is closing): the
// exception is no run failure and passes through the run to its caller.
//
// ShowCharacterCount comes once per replaced character, millions of times in a run. Its text stays
// valid and unchanged until the next ShowCharacterCount or until the run returns, so a view may
// keep a pointer to it and show it later instead of copying it on every call. Every other text
// lives only for the call.
class ProgressView {
public:
    virtual ~ProgressView() = default;

    virtual void ClearSourceList() = 0;
    virtual void AddSourceListItem(std::string_view text) = 0;
    virtual void ClearResultList() = 0;
    virtual void AddResultListItem(std::string_view text) = 0;
    virtual void ShowStatus(std::string_view text) = 0;
    virtual void ShowFileName(std::string_view text) = 0;
    virtual void ShowFileCount(std::string_view text) = 0;
    virtual void ShowCharacterCount(std::string_view text) = 0;
    // Handles whatever is waiting for the program's windows, without waiting for more.
    virtual void ProcessPendingEvents() = 0;
};

// Shows nothing: for runs without a window, in tools and benchmarks.
class SilentProgressView : public ProgressView {
public:
    void ClearSourceList() override {}
    void AddSourceListItem(std::string_view) override {}
    void ClearResultList() override {}
    void AddResultListItem(std::string_view) override {}
    void ShowStatus(std::string_view) override {}
    void ShowFileName(std::string_view) override {}
    void ShowFileCount(std::string_view) override {}
    void ShowCharacterCount(std::string_view) override {}
    void ProcessPendingEvents() override {}
};

} // namespace fanjian
