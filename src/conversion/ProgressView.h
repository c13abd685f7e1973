#pragma once

#include <cstdint>
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
//
// Most of those pairs of ShowCharacterCount and ProcessPendingEvents a view takes without doing
// anything but keep the text: a window handles its events and shows the count a few hundred times
// a second, not millions. A view that says so (SkipsQuietCounts) is asked, before a pair, how many
// of the pairs to come it can do without (TakeQuietCounts); the count then moves on by that many
// at once, and the pair after them is made as ever, with the count as it stands. A view that asks
// nothing of it gets every pair.
class ProgressView {
public:
    virtual ~ProgressView() = default;

    // True when the view may do without some pairs; asked once, when a converter is made.
    virtual bool SkipsQuietCounts() const { return false; }
    // How many of the next `available` pairs the view does without: it is as if each of them had
    // been made. `available` is never more than the pairs still to come minus one: the last
    // replacement of a stretch is always shown.
    virtual std::uint64_t TakeQuietCounts(std::uint64_t available)
    {
        (void)available;
        return 0;
    }

    virtual void ClearSourceList() = 0;
    virtual void AddSourceListItem(std::string_view text) = 0;
    virtual void ClearResultList() = 0;
    virtual void AddResultListItem(std::string_view text) = 0;
    virtual void ShowStatus(std::string_view text) = 0;
    virtual void ShowFileName(std::string_view text) = 0;
    virtual void ShowFileCount(std::string_view text) = 0;
    virtual void ShowCharacterCount(std::string_view text) = 0;
    // An entry the run leaves out, and why: `item` for the list ("略過符號連結 /x/a.htm"), `reason`
    // for people, in English, with the path ("not following /x/a.htm: a symbolic link in a folder
    // another user owns"). Unless the view says otherwise, the item goes into the source list.
    virtual void AddSkippedItem(std::string_view item, std::string_view reason)
    {
        (void)reason;
        AddSourceListItem(item);
    }
    // How the file whose result item comes next was read, told right before AddResultListItem: as
    // Big5 or GB2312, as UTF-8, or as Big5 or GB2312 although its declaration says UTF-8.
    enum class Reading { CodePage, Utf8, CodePageDeclaredUtf8 };
    virtual void ShowFileReading(Reading reading) { (void)reading; }
    // Handles whatever is waiting for the program's windows, without waiting for more.
    virtual void ProcessPendingEvents() = 0;
};

// Shows nothing: for runs without a window, in tools and benchmarks. It needs no pair but the last
// of each stretch.
class SilentProgressView : public ProgressView {
public:
    bool SkipsQuietCounts() const override { return true; }
    std::uint64_t TakeQuietCounts(std::uint64_t available) override { return available; }
    void ClearSourceList() override {}
    void AddSourceListItem(std::string_view) override {}
    void ClearResultList() override {}
    void AddResultListItem(std::string_view) override {}
    void ShowStatus(std::string_view) override {}
    void ShowFileName(std::string_view) override {}
    void ShowFileCount(std::string_view) override {}
    void ShowCharacterCount(std::string_view) override {}
    void AddSkippedItem(std::string_view, std::string_view) override {}
    void ProcessPendingEvents() override {}
};

} // namespace fanjian
