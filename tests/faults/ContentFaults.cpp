#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

using namespace fanjian::testing;

namespace {

// Content: every output is compared with the whole-text conversion; these add the exact bytes.

std::string PseudoRandomBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    std::uint64_t x = 0x2545F4914F6CDD1DULL;
    for (char& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<char>(x >> 56);
    }
    return bytes;
}

constexpr std::size_t kBlock = 256 * 1024; // what a run reads at a time

// Terminators and lead bytes at and across the run's read blocks: the first read ends between a
// CR and its LF, which the converter keeps back, so the second ends one byte earlier in the file,
// between a lead byte and the CR LF after it.
std::string MixedTerminators()
{
    std::string text = "cr\rlf\ncrlf\r\n" + kBig5Text + "\r";
    text += std::string(kBlock - 1 - text.size(), 'x') + "\r\n";
    text += std::string(2 * kBlock - 2 - text.size(), 'y') + "\xB0\r\n";
    text += std::string(100, 'z') + "\xB0\r";
    text += "\n\r\r\n";
    text += kBig5Text + "\xA4"; // a lead byte ends the file
    return text;
}

std::size_t CountCrLf(std::string_view text)
{
    std::size_t n = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2))
        ++n;
    return n;
}

const std::vector<FaultCase> kContentCases = {
    FaultCase("EmptyFile")
        .Setup([](Site& s) { s.File("empty.txt", ""); })
        .Check([](Site& s, const ChildRun&) { EXPECT_EQ(ReadFile(s.Out() / "empty.txt"), ""); }),
    FaultCase("OnlyTerminators")
        .Setup([](Site& s) { s.File("t.txt", "\n\r\n\r\r\n\n\r"); })
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(ReadFile(s.Out() / "t.txt"), "\r\n\r\n\r\n\r\n\r\n\r\n");
        }),
    FaultCase("LoneLeadByteAtEveryLineEnd")
        .Setup([](Site& s) { s.File("lead.txt", Bytes("61 B0 0A 62 B0 0D0A A4 0D A4")); })
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(ReadFile(s.Out() / "lead.txt"), Bytes("61 B0 0D0A 62 B0 0D0A A4 0D0A A4 0D0A"));
        }),
    FaultCase("NulBytes")
        .Setup([](Site& s) { s.File("nul.htm", Bytes("00 00 B0EA 00 0A 00 A4A4")); })
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(ReadFile(s.Out() / "nul.htm"), Bytes("00 00 B9FA 00 0D0A 00 D6D0 0D0A"));
        }),
    FaultCase("BinaryFileNamedHtm")
        .Setup([](Site& s) { s.File("image.htm", PseudoRandomBytes(3 * kBlock + 12345)); })
        .Check([](Site& s, const ChildRun& r) {
            // Lone CRs and LFs become CR LF: the output grows; some random pairs are in the table.
            EXPECT_GT(r.countCalls, 0u);
            EXPECT_GT(fs::file_size(s.Out() / "image.htm"), fs::file_size(s.F / "image.htm"));
        }),
    FaultCase("MixedTerminatorsAcrossReadBlocks")
        .Setup([](Site& s) { s.File("mixed.txt", MixedTerminators()); })
        .Check([](Site& s, const ChildRun&) {
            const std::string out = ReadFile(s.Out() / "mixed.txt");
            EXPECT_EQ(out.substr(0, 16 + kGbText.size()), "cr\r\nlf\r\ncrlf\r\n" + kGbText + "\r\n");
            EXPECT_EQ(CountCrLf(out), 10u);
            EXPECT_NE(out.find("y\xB0\r\nz"), std::string::npos);
            EXPECT_TRUE(out.ends_with("z\xB0\r\n\r\n\r\n" + kGbText + "\xA4\r\n"));
        }),
    FaultCase("GbTextToBig5")
        .Setup([](Site& s) {
            s.File("page.htm", "<meta charset=\"GB2312\" content=\"zh-cn\">\n" + kGbText + "\xB9");
        })
        .Check([](Site& s, const ChildRun&) {
            EXPECT_EQ(ReadFile(s.Out() / "page.htm"),
                      "<meta charset=\"big5\" content=\"zh-tw\">\r\n" + kBig5Text + "\xB9\r\n");
        })
        .Direction(kToBig5),
};

INSTANTIATE_TEST_SUITE_P(Content, FaultMatrix, ::testing::ValuesIn(kContentCases), CaseName);

} // namespace
