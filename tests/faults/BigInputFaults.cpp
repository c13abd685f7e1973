#include "FaultMatrix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

using namespace fanjian::testing;

namespace {

// Big inputs: outputs compared by streaming, big files removed as soon as they are checked.

// A piece of a long line that converts on its own: it starts and ends with plain bytes.
const std::string kLineUnit = std::string(4000, 'x') + kBig5Text + "ab" + Bytes("A4A4") + " charset=big5 ";
constexpr std::uint64_t kLineBytes = 200u << 20;
constexpr std::uint64_t kMiB = 1u << 20;
constexpr std::uint64_t kSparseMiBs = 1024; // a 1 GiB file
const std::string kSparseText = "\n" + kBig5Text + " charset=big5\r\n" + Bytes("B0") + "\n";

void RemoveNow(const fs::path& file)
{
    std::error_code ignored;
    fs::remove(file, ignored);
}

const std::vector<FaultCase> kBigCases = {
    FaultCase("LineOf200MB")
        .Setup([](Site& s) {
            const std::uint64_t units = kLineBytes / kLineUnit.size();
            std::string chunk;
            for (int i = 0; i < 256; ++i)
                chunk += kLineUnit;
            std::ofstream out(s.F / "long.txt", std::ios::binary);
            for (std::uint64_t u = 0; u < units; u += 256)
                out.write(chunk.data(),
                          static_cast<std::streamsize>(kLineUnit.size() * std::min<std::uint64_t>(256, units - u)));
            out.close();
            ASSERT_TRUE(out) << "cannot write the long line";
        })
        .Check([](Site& s, const ChildRun& r) {
            const fs::path output = s.Out() / "long.txt";
            std::string unit = s.Convert(kLineUnit).text;
            ASSERT_TRUE(EndsWithCrLf(unit));
            unit.resize(unit.size() - 2);
            EXPECT_EQ(CompareFileWithPieces(output, {{unit, kLineBytes / kLineUnit.size()}, {"\r\n", 1}}), "");
            RemoveNow(output);
            RemoveNow(s.F / "long.txt");
            std::cout << "200 MB line: " << r.seconds << " s\n";
        })
        .Deadline(600)
        .CheckOutputs(false),
    FaultCase("SparseFileOf1GB")
        .Setup([](Site& s) {
            // Holes, and a few lines of text at the end of every MiB.
            const fs::path path = s.F / "big.txt";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            bool ok = ::ftruncate(fd, static_cast<off_t>(kSparseMiBs * kMiB)) == 0;
            for (std::uint64_t m = 1; ok && m <= kSparseMiBs; ++m)
                ok = ::pwrite(fd, kSparseText.data(), kSparseText.size(),
                              static_cast<off_t>(m * kMiB - kSparseText.size())) ==
                     static_cast<ssize_t>(kSparseText.size());
            ok = ::close(fd) == 0 && ok;
            ASSERT_TRUE(ok) << "cannot make " << path;
        })
        .Check([](Site& s, const ChildRun& r) {
            const fs::path output = s.Out() / "big.txt";
            const std::string unit = s.Convert(std::string(kMiB - kSparseText.size(), '\0') + kSparseText).text;
            EXPECT_EQ(CompareFileWithPieces(output, {{unit, kSparseMiBs}}), "");
            RemoveNow(output);
            RemoveNow(s.F / "big.txt");
            EXPECT_EQ(r.countCalls, 4 * kSparseMiBs);
            std::cout << "1 GiB file: " << r.seconds << " s\n";
        })
        .Deadline(600)
        .CheckOutputs(false),
};

INSTANTIATE_TEST_SUITE_P(Big, FaultMatrix, ::testing::ValuesIn(kBigCases), CaseName);

} // namespace
