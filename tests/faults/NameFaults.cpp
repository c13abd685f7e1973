#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Names: bytes in, the same bytes out, in the lists and on disk.

const std::string kBig5Name = Bytes("B0EA A4A4") + ".htm"; // 國中.htm in Big5
const std::string kGbName = Bytes("B9FA D6D0") + ".txt";   // 国中.txt in GB2312
const std::string kBig5Folder = Bytes("B773 BB44");        // 新聞 in Big5
const std::string kLongName = std::string(251, 'n') + ".htm";
const std::vector<std::string> kOddNames = {"a\nb.htm",        "say \"hi\".txt", "it's.js", "\r.txt",
                                            "back\\slash.asp", "tab\there.php"};

const std::vector<FaultCase> kNameCases = {
    FaultCase("NamesInBig5AndGb")
        .Setup([](Site& s) {
            s.Folder(kBig5Folder);
            s.File(kBig5Folder + "/" + kBig5Name, kBig5Text);
            s.File(kGbName, kBig5Text);
        })
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddSourceListItem"),
                      (std::vector<std::string>{s.InItem(kBig5Folder + "/" + kBig5Name), s.InItem(kGbName)}));
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem(kBig5Folder + "/" + kBig5Name), s.OutItem(kGbName)}));
            EXPECT_EQ(r.Texts("ShowFileName"), (std::vector<std::string>{"檔名 " + kBig5Name, "檔名 " + kGbName}));
            EXPECT_TRUE(fs::is_regular_file(s.Out() / kBig5Folder / kBig5Name));
        }),
    FaultCase("NewlinesAndQuotesInNames")
        .Setup([](Site& s) {
            for (const std::string& name : kOddNames)
                s.File(name, kBig5Text);
        })
        .Check([](Site& s, const ChildRun& r) {
            std::set<std::string> expected;
            for (const std::string& name : kOddNames) {
                expected.insert(s.OutItem(name));
                EXPECT_EQ(ReadFile(s.Out() / name), kGbText + "\r\n") << name;
            }
            const std::vector<std::string> shown = r.Texts("AddResultListItem");
            EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()), expected);
        }),
    FaultCase("NameOf255Bytes")
        .Setup([](Site& s) {
            s.Folder(std::string(255, 'd'));
            s.File(std::string(255, 'd') + "/" + kLongName, kGbText);
            s.File(kLongName, kGbText);
        })
        .Check([](Site& s, const ChildRun& r) {
            EXPECT_EQ(r.Texts("AddResultListItem"),
                      (std::vector<std::string>{s.OutItem(std::string(255, 'd') + "/" + kLongName),
                                                s.OutItem(kLongName)}));
            EXPECT_EQ(ReadFile(s.Out() / kLongName), kBig5Text + "\r\n");
        })
        .Direction(kToBig5),
    FaultCase("TwentyThousandFilesInOneFolder")
        .Setup([](Site& s) {
            s.Folder("many");
            for (int i = 0; i < 20000; ++i)
                s.File("many/" + std::to_string(i) + ".txt", std::to_string(i) + kBig5Text);
        })
        .Check([](Site& s, const ChildRun& r) {
            const std::vector<std::string> sources = r.Texts("AddSourceListItem");
            ASSERT_EQ(sources.size(), 20000u);
            EXPECT_EQ(std::set<std::string>(sources.begin(), sources.end()).size(), 20000u);
            EXPECT_NE(std::find(sources.begin(), sources.end(), s.InItem("many/19999.txt")), sources.end());
            EXPECT_EQ(r.Texts("ShowFileCount").back(), "第 20000 檔案");
            EXPECT_EQ(r.lastCount, "第 80000 字");
            std::cout << "20,000 files: " << r.seconds << " s\n";
        })
        .Deadline(240),
};

INSTANTIATE_TEST_SUITE_P(Names, FaultMatrix, ::testing::ValuesIn(kNameCases), CaseName);

} // namespace
