#include "FaultMatrix.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Writing: the output folder and files, a full disk, another file system.

constexpr std::uint64_t kLimit = (3u << 19) + 7; // 1.5 MiB and a bit: inside the second write

const std::vector<FaultCase> kWritingCases = {
    FaultCase("OutputFolderNotCreatable")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text);
            s.Mode(s.F, 0555);
        })
        .Fails()
        .Check([](Site& s, const ChildRun&) { EXPECT_FALSE(fs::exists(s.Out())); })
        .Unprivileged(),
    FaultCase("OutputSubfolderNotCreatable")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.File("b.htm", kBig5Text);
            s.Folder("GB");
            s.Mode(s.F / "GB", 0555);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_TRUE(r.Texts("AddResultListItem").empty());
            EXPECT_FALSE(fs::exists(s.Out() / "s"));
        })
        .Unprivileged(),
    FaultCase("OutputPathIsADirectory")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/x.htm", kBig5Text + "\r\n" + kBig5Text);
            s.File("a.htm", kBig5Text);
            s.Folder("GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/x.htm")}));
            EXPECT_TRUE(fs::is_directory(s.Out() / "a.htm"));
            EXPECT_TRUE(fs::is_empty(s.Out() / "a.htm"));
        }),
    // An output left read-only (below GB/s: the files directly in GB would be inputs too).
    FaultCase("OutputFileReadOnly")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/x.htm", kBig5Text);
            s.Folder("GB/s");
            s.File("GB/s/x.htm", "old");
            s.Mode(s.F / "GB" / "s" / "x.htm", 0444);
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_TRUE(r.Texts("AddResultListItem").empty());
            EXPECT_EQ(ReadFile(s.Out() / "s" / "x.htm"), "old");
        })
        .Unprivileged(),
    FaultCase("DiskFullPartWayThroughAFile")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/small.htm", Big5Lines(5000));
            s.File("big.txt", Big5Lines(3 << 20));
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ASSERT_EQ(r.Texts("AddResultListItem"), (std::vector<std::string>{s.OutItem("s/small.htm")}));
            const std::string expected = s.Convert(ReadFile(s.F / "big.txt")).text;
            ASSERT_GT(expected.size(), kLimit);
            const std::string left = ReadFile(s.Out() / "big.txt");
            // Every line that fitted, and not a byte of the line that did not; the cause, not a signal.
            EXPECT_EQ(FirstDifference(left, LinesWithin(expected, kLimit)), "");
            EXPECT_EQ(r.failureValue, EFBIG) << r.failureMessage;
            EXPECT_NE(r.failureMessage.find((s.Out() / "big.txt").string()), std::string::npos);
        })
        .FileSizeLimit(kLimit),
    FaultCase("DiskFullInsideALongLine")
        .Setup([](Site& s) {
            std::string line;
            while (line.size() < (3u << 20))
                line += "abc " + kBig5Text;
            s.File("long.htm", "first\n" + line + "\nlast\n");
        })
        .Fails()
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(FirstDifference(ReadFile(s.Out() / "long.htm"), "first\r\n"), "");
        })
        .FileSizeLimit(2u << 20),
    FaultCase("DiskFullThenSpaceComesBack")
        .Setup([](Site& s) { s.File("big.txt", Big5Lines(3 << 20)); })
        .Fails()
        .Check([](Site& s, const ChildRun&) {
            const std::string expected = s.Convert(ReadFile(s.F / "big.txt")).text;
            const std::string left = ReadFile(s.Out() / "big.txt");
            // The lines finished when the write failed may still go to disk; nothing else may.
            EXPECT_GE(left.size(), LinesWithin(expected, kLimit).size());
            EXPECT_TRUE(expected.compare(0, left.size(), left) == 0);
            EXPECT_TRUE(EndsWithCrLf(left));
        })
        .FileSizeLimit(kLimit, true),
    FaultCase("DiskFullToBig5")
        .Setup([](Site& s) { s.File("big.txt", std::string(kLimit - 5, 'a') + "\n" + kGbText + "\nz\n"); })
        .Fails()
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(FirstDifference(ReadFile(s.Out() / "big.txt"), std::string(kLimit - 5, 'a') + "\r\n"), "");
        })
        .Direction(kToBig5)
        .FileSizeLimit(kLimit),
    FaultCase("OutputFolderOnAnotherFileSystem")
        .Setup([](Site& s) {
            struct stat here, there;
            if (::stat(s.F.c_str(), &here) != 0 || ::stat("/dev/shm", &there) != 0)
                GTEST_SKIP() << "no /dev/shm";
            if (here.st_dev == there.st_dev)
                GTEST_SKIP() << "/dev/shm and " << s.F << " are on one file system here";
            s.shm = std::make_unique<TempDir>("/dev/shm");
            s.Link(s.shm->path(), "GB");
            s.Folder("s");
            s.File("s/a.htm", Big5Lines(300000));
            s.File("b.htm", Big5Lines(1000));
        })
        .Completes()
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem").size(), 2u);
            EXPECT_TRUE(fs::is_regular_file(s.shm->path() / "s" / "a.htm"));
        }),
    FaultCase("DanglingLinkAtAnOutputPath")
        .Setup([](Site& s) {
            fs::create_directory(s.root / "elsewhere");
            s.Folder("GB");
            s.Link(s.root / "elsewhere" / "new.htm", "GB/a.htm");
            s.File("a.htm", kBig5Text);
        })
        .Fails()
        .Check([](Site& s, const ChildRun&) {
            EXPECT_FALSE(fs::exists(s.root / "elsewhere" / "new.htm")) << "wrote through the link";
        }),
    // Special files where an earlier output was: refused before a byte goes to them, with or
    // without a reader at a FIFO's other end, never waited on.
    FaultCase("FifoWithAReaderAtAnOutputPath")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Fifo(s.F / "GB" / "a.htm", false);
            s.Reader(s.F / "GB" / "a.htm");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::NotRegularFile, s.Out() / "a.htm");
            char byte;
            EXPECT_LE(::read(s.readers.front().fd, &byte, 1), 0) << "bytes went into the FIFO";
        }),
    FaultCase("FifoWithoutAReaderAtAnOutputPath")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Fifo(s.F / "GB" / "a.htm", false);
        })
        .Fails()
        .Deadline(20)
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::NotRegularFile, s.Out() / "a.htm");
        }),
    FaultCase("DeviceAtAnOutputPath")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            if (::mknod((s.F / "GB" / "a.htm").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                GTEST_SKIP() << "mknod: " << std::strerror(errno) << " (it needs root)";
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::NotRegularFile, s.Out() / "a.htm");
        }),
    FaultCase("OutputLinksToADevice")
        .Setup([](Site& s) {
            s.File("a.htm", kBig5Text + "\n");
            s.Folder("GB");
            s.Link("/dev/null", "GB/a.htm");
        })
        .Fails()
        .Check([](Site& s, const ChildRun& r) {
            ExpectFileProblem(r, fanjian::FileProblem::LinkAtPath, s.Out() / "a.htm");
        }),
    FaultCase("DanglingLinkAtAnOutputPathIntoTheInput")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text);
            s.Folder("GB/s");
            s.Link("../../s/new.htm", "GB/s/a.htm");
        })
        .Fails(),
    // New outputs as cp makes them: the input's permission bits (never setuid) less the umask; GB
    // takes the folder's. A folder without room for its owner to write is written all the same.
    FaultCase("NewOutputsTakeTheirInputsModes")
        .Setup([](Site& s) {
            s.Mode(s.F, 0751);
            s.Folder("private");
            s.File("private/b.txt", kBig5Text);
            s.Mode(s.F / "private" / "b.txt", 0600);
            s.Mode(s.F / "private", 0700);
            s.Folder("readonly");
            s.File("readonly/c.js", kBig5Text);
            s.Mode(s.F / "readonly" / "c.js", 0444);
            s.Mode(s.F / "readonly", 0555);
            s.File("a.htm", kBig5Text);
            s.File("setuid.php", kBig5Text);
            s.Mode(s.F / "setuid.php", 04755);
        })
        .Completes()
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(ModeOf(s.Out()), 0750u);
            EXPECT_EQ(ModeOf(s.Out() / "private"), 0700u);
            EXPECT_EQ(ModeOf(s.Out() / "private" / "b.txt"), 0600u);
            EXPECT_EQ(ModeOf(s.Out() / "readonly"), 0550u);
            EXPECT_EQ(ModeOf(s.Out() / "readonly" / "c.js"), 0440u);
            EXPECT_EQ(ModeOf(s.Out() / "a.htm"), 0640u);
            EXPECT_EQ(ModeOf(s.Out() / "setuid.php"), 0750u);
        })
        .Umask(027)
        .Unprivileged(),
    // Started without standard input, output and error: no file of the run takes their numbers.
    FaultCase("StandardStreamsClosed")
        .Setup([](Site& s) {
            s.Folder("s");
            s.File("s/a.htm", kBig5Text + "\n");
            s.File("b.htm", kBig5Text + "\n");
        })
        .Completes()
        .During([](Site&, std::string_view operation, std::string_view) {
            if (operation != "ShowCharacterCount")
                return;
            for (int stream = 0; stream <= 2; ++stream) {
                std::error_code error;
                const fs::path target = fs::read_symlink("/proc/self/fd/" + std::to_string(stream), error);
                if (target != "/dev/null")
                    throw std::runtime_error("descriptor " + std::to_string(stream) + " is " + target.string());
            }
        })
        .ClosedStandardStreams(),
};

INSTANTIATE_TEST_SUITE_P(Writing, FaultMatrix, ::testing::ValuesIn(kWritingCases), CaseName);

} // namespace
