#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Reading: the folder and the input files.

const std::vector<FaultCase> kReadingCases = {
    FaultCase("InputFileUnreadable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", kBig5Text + "\n");
            s.Mode(s.F / "b.htm", 0);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_EQ(r.Texts("AddSourceListItem")[1], s.InItem("b.htm"));
            EXPECT_FALSE(fs::exists(s.Out() / "b.htm"));
        })
        .Unprivileged(),
    FaultCase("InputFileUnreadableInASubfolder")
        .Setup([](Site& s) {
            s.Folder("t");
            s.File("t/b.htm", kBig5Text + "\n");
            s.Mode(s.F / "t" / "b.htm", 0);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem")[0], s.InItem("t/b.htm"));
            // Its folders are made before the file is opened; its output file never is.
            EXPECT_TRUE(fs::is_directory(s.Out() / "t"));
            EXPECT_FALSE(fs::exists(s.Out() / "t" / "b.htm"));
        })
        .Unprivileged(),
    FaultCase("SubfolderUnreadable")
        .Setup([](Site& s) {
            s.Folder("locked");
            s.File("locked/a.htm", kBig5Text);
            s.Mode(s.F / "locked", 0);
            s.Folder("open");
            s.File("open/b.htm", kBig5Text);
            s.File("top.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_FALSE(fs::exists(s.Out() / "locked"));
            EXPECT_FALSE(fs::exists(s.Out() / "top.htm")) << "no file after the failure";
            // The subfolders before the locked one, in the order the folder lists them, are
            // converted; none after it.
            std::vector<std::string> order;
            for (const auto& entry : fs::directory_iterator(s.F))
                order.push_back(entry.path().filename().string());
            const bool openFirst = std::find(order.begin(), order.end(), "open") <
                                   std::find(order.begin(), order.end(), "locked");
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      openFirst ? std::vector<std::string>{s.OutItem("open/b.htm")} : std::vector<std::string>{});
        })
        .Unprivileged(),
    // Names can be read, but not what they stand for.
    FaultCase("SubfolderListableButNotSearchable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.Mode(s.F / "s", 0444);
        })
        .Fails()
        .Check([](Site& s, const ChildRun&) { EXPECT_FALSE(fs::exists(s.Out() / "s" / "a.htm")); })
        .Unprivileged(),
    FaultCase("FolderListableButNotSearchable")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text);
            s.Mode(s.F, 0444);
        })
        .Fails()
        .Unprivileged(),
    FaultCase("FolderPathNamesAFile")
        .Setup([](Site& s) { s.File("a.htm", kBig5Text); })
        .Fails()
        .Check([](Site&, const ChildRun& r) { EXPECT_EQ(r.Texts("AddSourceListItem").size(), 2u); })
        .FolderArgument([](Site& s) { return s.S() + "/a.htm/"; }),
    FaultCase("FolderPathNamesAFifo")
        .Setup([](Site& s) { s.Fifo(s.F / "pipe", true); })
        .Fails()
        .FolderArgument([](Site& s) { return s.S() + "/pipe"; }),
    // No folder can have this name; the bytes before the NUL name one that exists.
    FaultCase("FolderPathHoldsANulByte")
        .Setup([](Site& s) { s.File("notes.doc", "x"); })
        .Fails()
        .Check([](Site& s, const ChildRun&) { EXPECT_FALSE(fs::exists(s.F / "GB")); })
        .FolderArgument([](Site& s) { return s.S() + std::string("\0/elsewhere", 11); }),
    FaultCase("FolderVanishesDuringTheRun")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.htm", kBig5Text + "\n");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_EQ(ReadFile(s.root / "moved" / "GB" / "s" / "a.htm"), kGbText + "\r\n");
            EXPECT_FALSE(fs::exists(s.F)) << "nothing made the folder again";
        })
        // It goes at the pass over the events after the first file is written.
        .During([seen = false, done = false](Site& s, std::string_view op, std::string_view) mutable {
            if (op == "AddResultListItem") {
                seen = true;
            } else if (seen && !done && op == "ProcessPendingEvents") {
                done = true;
                fs::rename(s.F, s.root / "moved");
            }
        })
        .SiteMovesTo("moved")
        .CheckOutputs(false),
    FaultCase("FolderVanishesBeforeTheFirstFile")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem").size(), 2u);
            EXPECT_FALSE(fs::exists(s.root / "moved" / "GB"));
        })
        .During(At("ShowStatus", std::string(texts::Status(kToGb)),
                   [](Site& s) { fs::rename(s.F, s.root / "moved"); }))
        .SiteMovesTo("moved"),
    FaultCase("FileDeletedBetweenListingAndOpening")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.htm", kBig5Text + "\n");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/a.htm")}));
            EXPECT_FALSE(fs::exists(s.Out() / "c.htm"));
        })
        .During(At("ShowFileCount", "第 2 檔案", [](Site& s) { fs::remove(s.F / "c.htm"); }))
        .ChangedByTheCase({"site/c.htm"}),
    // Files of the kernel's pseudo file systems say they are regular and empty. One whose reads
    // would wait for data fails the run instead of holding it; one that has content is read
    // to its end.
    FaultCase("InputWhoseReadsWouldWait")
        .Setup([](Site& s) {
            struct stat status;
            if (::stat("/proc/kmsg", &status) != 0 || !S_ISREG(status.st_mode))
                GTEST_SKIP() << "no /proc/kmsg as a regular file here";
            s.File("a.htm", kBig5Text + "\n");
            s.Link("/proc/kmsg", "kmsg.txt");
        })
        .Fails()
        .Deadline(30)
        .CheckOutputs(false) // reading the pseudo-file to compare would wait itself
        .Check([](Site& s, const ChildRun& r) {
            const std::vector<std::string> sources = r.Texts("AddSourceListItem");
            ASSERT_GE(sources.size(), 3u);
            EXPECT_EQ(sources[sources.size() - 3], s.InItem("kmsg.txt"));
            ExpectFileProblem(r, fanjian::FileProblem::NotRegularFile, s.F / "kmsg.txt");
        }),
    FaultCase("PseudoFileIsReadToItsEnd")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text + "\n");
            s.Link("/proc/version", "version.txt");
        })
        .Completes()
        .Check([](Site& s, const ChildRun&) {
            EXPECT_GT(ReadFile(s.Out() / "version.txt").size(), 10u);
        }),
    FaultCase("FileReplacedByAFifoAfterListing")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("c.txt", kBig5Text + "\n");
            s.Fifo(s.root / "pipe", true, s.F / "c.txt");
        })
        .Fails()
        .Check([](Site& s, const ChildRun&) { EXPECT_FALSE(fs::exists(s.Out() / "c.txt")); })
        .During(At("ShowFileCount", "第 2 檔案", [](Site& s) { fs::rename(s.root / "pipe", s.F / "c.txt"); }))
        .ChangedByTheCase({"site/c.txt", "pipe"}),
};

INSTANTIATE_TEST_SUITE_P(Reading, FaultMatrix, ::testing::ValuesIn(kReadingCases), CaseName);

} // namespace
