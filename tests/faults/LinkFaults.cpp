#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Links between the input and the output.

const std::vector<FaultCase> kLinkCases = {
    FaultCase("OutputFolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(s.F, "GB");
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", kBig5Text + "\n");
        })
        .Fails(),
    FaultCase("Big5OutputFolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(".", "BIG5");
            s.File("a.htm", kGbText + "\n");
        })
        .Fails()
        .Direction(kToBig5),
    FaultCase("OutputFolderLinksToASubfolder")
        .Setup([](Site& s) {
            s.Folder("s");
            s.Link("s", "GB");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("a.htm", "top\n");
        })
        .Fails(),
    FaultCase("OutputSubfolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.F, "GB/s");
        })
        .Fails(),
    FaultCase("SubfolderLinksToTheFolder")
        .Setup([](Site& s) {
            s.Link(s.F, "s");
            s.File("a.htm", kBig5Text + "\n");
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("s/a.htm"), s.OutItem("a.htm")}));
        }),
    FaultCase("LinkLoops")
        .Setup([](Site& s) {
            s.Link("b.htm", "a.htm");
            s.Link("a.htm", "b.htm");
            s.Link("self.txt", "self.txt");
            s.Link("loop", "loop");
            s.File("real.htm", kBig5Text);
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.htm")}));
        }),
    FaultCase("OutputLinkedToALaterInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", "later input\n");
            s.Folder("GB/s");
            s.Link(s.F / "b.htm", "GB/s/a.htm");
        })
        .Fails(),
    FaultCase("OutputLinkedToAnEarlierInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", "earlier input\n");
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.F / "s" / "a.htm", "GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            // The top a.htm may not go through the link.
            const std::vector<std::string> sources = r.Texts("AddSourceListItem");
            EXPECT_EQ(sources.size(), 4u);
            EXPECT_EQ(sources[1], s.InItem("a.htm"));
        }),
    FaultCase("OutputHardLinkedToAnotherInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", "another input\n");
            s.Folder("GB/s");
            fs::create_hard_link(s.F / "b.htm", s.F / "GB" / "s" / "a.htm");
        })
        .Fails(),
    // An earlier output folder whose files lead elsewhere: to a file of the folder that is no
    // page, to the dictionary. None is written or emptied; the next run still has its dictionary.
    FaultCase("OutputLinksToAFileOfTheFolder")
        .Setup([](Site& s) {
            s.File("config.ini", "secret=1\n");
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link("../config.ini", "GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::LinkAtPath, s.Out() / "a.htm");
        }),
    FaultCase("OutputHardLinkedToAFileOfASubfolder")
        .Setup([](Site& s) {
            s.Folder("sub");
            s.File("sub/c.txt", kBig5Text + "\n");
            s.File("sub/photo.jpg", "\xFF\xD8\xFF not a page");
            s.Folder("GB/sub");
            fs::create_hard_link(s.F / "sub" / "photo.jpg", s.F / "GB" / "sub" / "c.txt");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::HardLinked, s.Out() / "sub" / "c.txt");
        }),
    FaultCase("OutputLinksToTheDictionary")
        .Setup([](Site& s) {
            s.File("b.txt", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.program / "mervik.pcx", "GB/b.txt");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::LinkAtPath, s.Out() / "b.txt");
            ExpectDictionaryIntact(s.program);
        }),
    FaultCase("OutputHardLinkedToTheDictionary")
        .Setup([](Site& s) {
            s.File("b.txt", kBig5Text + "\n");
            s.Folder("GB");
            fs::create_hard_link(s.program / "mervik.pcx", s.F / "GB" / "b.txt");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::HardLinked, s.Out() / "b.txt");
            ExpectDictionaryIntact(s.program);
        }),
    // Links among the inputs alone are ordinary: each name is converted.
    FaultCase("HardLinkedInputs")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("b.htm", kBig5Text + "\n");
            fs::create_hard_link(s.F / "b.htm", s.F / "s" / "a.htm");
            fs::create_directory(s.root / "outside");
            WriteFile(s.root / "outside" / "x.txt", kBig5Text);
            s.Link(s.root / "outside" / "x.txt", "c.txt");
        })
        .Completes()
        .Check([](Site&, const ChildRun& r) { EXPECT_EQ(r.Texts("AddResultListItem").size(), 3u); }),
    FaultCase("DanglingLinksAmongTheInputs")
        .Setup([](Site& s) {
            s.Link("nowhere.htm", "a.htm");
            s.Folder("s");
            s.Link("../gone", "s/b.txt");
            s.File("real.txt", kBig5Text);
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"), (std::vector<std::string>{s.InItem("real.txt")}));
            EXPECT_FALSE(fs::exists(s.Out() / "a.htm"));
        }),
    // A run over a folder converted before: its own output folder is output only, unread; the
    // other direction's is a subfolder like any other.
    FaultCase("OutputFolderOfAnEarlierRun")
        .Setup([](Site& s) {
            s.File("index.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.File("GB/index.htm", kGbText + "\r\n");
            s.Mode(s.F / "GB" / "index.htm", 0604);
            s.File("GB/old.htm", "an earlier page\r\n");
            s.Folder("BIG5");
            s.File("BIG5/index.htm", kBig5Text + "\r\n");
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("BIG5/index.htm"), s.OutItem("index.htm")}));
            EXPECT_FALSE(fs::exists(s.Out() / "GB"));
            EXPECT_EQ(ReadFile(s.Out() / "index.htm"), kGbText + "\r\n");
            EXPECT_EQ(ModeOf(s.Out() / "index.htm"), 0604u) << "an output that was there keeps its mode";
            EXPECT_EQ(ReadFile(s.Out() / "old.htm"), "an earlier page\r\n");
        }),
    // Root converting a user's site follows none of the user's links: not to a file only root may
    // read, not to a folder of root's. Each is listed with its reason; the rest is converted.
    FaultCase("RootFollowsNoLinkInAnotherUsersFolder")
        .Setup([](Site& s) {
            fs::create_directory(s.root / "private");
            WriteFile(s.root / "private" / "shadow.txt", "root:secret\n");
            s.Mode(s.root / "private" / "shadow.txt", 0600);
            s.Link(s.root / "private" / "shadow.txt", "notes.txt");
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.Link(s.root / "private" / "shadow.txt", "s/b.htm");
            s.Link(s.root / "private", "linked");
            s.File("index.htm", kBig5Text + "\n");
        })
        .OwnedByAnotherUser()
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("s/a.htm"), s.OutItem("index.htm")}));
            std::set<std::string> skipped;
            for (const std::string name : {"linked", "s/b.htm", "notes.txt"})
                skipped.insert("略過符號連結 " + s.InItem(name) + "\nnot following " + s.InItem(name) +
                               ": a symbolic link in a folder another user owns");
            EXPECT_EQ(SkippedItems(r), skipped);
            for (const std::string name : {"linked", "s/b.htm", "notes.txt"})
                EXPECT_FALSE(fs::exists(s.Out() / name)) << name;
        }),
    // Nor in a folder of the user's inside a folder of root's (uploads to root's site).
    FaultCase("RootFollowsNoLinkInAnotherUsersSubfolder")
        .Setup([](Site& s) {
            if (::geteuid() != 0)
                GTEST_SKIP() << "handing a folder to another user needs root";
            WriteFile(s.root / "shadow.txt", "root:secret\n");
            s.Folder("uploads");
            s.Link(s.root / "shadow.txt", "uploads/b.htm");
            s.File("uploads/a.htm", kBig5Text + "\n");
            GiveTree(s.F / "uploads", kNobody);
            s.Link(s.root / "shadow.txt", "root's own link.txt");
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem("uploads/a.htm"), s.OutItem("root's own link.txt")}));
            EXPECT_EQ(SkippedItems(r).size(), 1u);
            EXPECT_FALSE(fs::exists(s.Out() / "uploads" / "b.htm"));
        }),
    // ... nor writes through a link the user put where its output goes (a web root of root's).
    FaultCase("RootWritesNothingThroughALinkedOutputFolder")
        .Setup([](Site& s) {
            fs::create_directory(s.root / "webroot");
            s.Link(s.root / "webroot", "GB");
            s.File("shell.php", kBig5Text + "\n");
        })
        .OwnedByAnotherUser()
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::LinkAtPath, s.Out());
            EXPECT_TRUE(fs::is_empty(s.root / "webroot"));
        }),
    FaultCase("RootWritesNothingThroughALinkedOutputSubfolder")
        .Setup([](Site& s) {
            fs::create_directory(s.root / "webroot");
            s.Folder("s");
            s.File("s/shell.php", kBig5Text + "\n");
            s.Folder("GB");
            s.Link(s.root / "webroot", "GB/s");
        })
        .OwnedByAnotherUser()
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::LinkAtPath, s.Out() / "s");
            EXPECT_TRUE(fs::is_empty(s.root / "webroot"));
        }),
};

INSTANTIATE_TEST_SUITE_P(Links, FaultMatrix, ::testing::ValuesIn(kLinkCases), CaseName);

} // namespace
