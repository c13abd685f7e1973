// Times what no tool shows on its own: the converter alone and the dictionary's Open. (Whole runs
// are fanjian-convert's, as users run it.)
//
//   fanjian_headless open PROGRAM_DIR [TIMES]          median time of CharacterDictionary::Open
//   fanjian_headless convert t2s|s2t[-utf8][-by-character][-one-thread] FILE PROGRAM_DIR [TIMES [silent]]
//                                                     the converter alone, in memory: FILE read once,
//                                                     then converted TIMES times (default 9); with
//                                                     -utf8, FILE is read as UTF-8; with
//                                                     -by-character, without the phrases; with
//                                                     -one-thread, without the second thread
//
// convert hands the converter the file in blocks of the run's read size, each with the tail left of
// the one before, into an output buffer emptied at the run's write size, as a run does, without any
// reading or writing of files, and with a view that takes every call (with "silent", the view
// that shows nothing, as a run without a window has it, whose calls the compiler may leave out).
// It prints
// "convert <ms> ms <MB/s> MB/s", the median wall time of the passes, then the median processor
// time of the process, both threads (the wall time of one thread on a machine that is not busy),
// the fastest pass, and the output's size and
// replacement count, which must not change with the converter's code.
#include "conversion/LineConverter.h"
#include "dictionary/CharacterDictionary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <time.h>

namespace {

int Usage()
{
    std::fputs("usage: fanjian_headless open PROGRAM_DIR [TIMES]\n"
               "       fanjian_headless convert t2s|s2t[-utf8][-by-character][-one-thread] FILE PROGRAM_DIR [TIMES [silent]]\n",
               stderr);
    return 2;
}

// The whole file, as bytes; exits on any failure to read it.
std::string ReadWhole(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::perror(path);
        std::exit(1);
    }
    std::string bytes;
    char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || failed) {
        std::perror(path);
        std::exit(1);
    }
    return bytes;
}

// The run's read and write sizes (ConversionRun.cpp).
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kWriteSize = 1024 * 1024;

// Takes every call the converter makes, as a window does, through the ProgressView interface: its
// functions are defined here, out of the converter's sight, so that none of the calls can be left
// out. It keeps the last count text, as the window keeps it to show later, and counts the calls.
class CountingView : public fanjian::SilentProgressView {
public:
    bool SkipsQuietCounts() const override { return false; }
    void ShowCharacterCount(std::string_view text) override;
    void ProcessPendingEvents() override;
    std::string_view last;
    std::uint64_t shown = 0;
    std::uint64_t passes = 0;
};

void CountingView::ShowCharacterCount(std::string_view text)
{
    last = text;
    ++shown;
}

void CountingView::ProcessPendingEvents()
{
    ++passes;
}

// Processor time of the process, every thread, in ms: on a busy machine it leaves out the time spent
// waiting for a core, which the wall time counts.
double ProcessCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct ConvertPass {
    double ms;
    double cpuMs;
    std::uint64_t outputBytes;
    std::uint64_t replaced;
};

ConvertPass ConvertInMemory(fanjian::ConversionDirection direction, fanjian::TextEncoding encoding,
                            fanjian::Phrasing phrasing, bool oneThread,
                            const fanjian::CharacterDictionary& dictionary, std::string_view text, bool silent)
{
    CountingView counting;
    fanjian::SilentProgressView silentView;
    fanjian::ProgressView& view = silent ? static_cast<fanjian::ProgressView&>(silentView) : counting;
    fanjian::ByteBuffer written;
    written.reserve(kWriteSize + kReadSize * 2);
    std::uint64_t outputBytes = 0;
    const double cpuStart = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    fanjian::LineConverter converter(direction, dictionary, view, phrasing);
    converter.UseEncoding(encoding);
    if (oneThread)
        converter.UseSecondThread(false);
    std::size_t from = 0; // the first byte not yet taken
    std::size_t read = 0; // the bytes "read" so far
    for (;;) {
        const std::size_t end = std::min(from + kReadSize, text.size());
        const bool atEnd = end == read; // a read that gets nothing
        read = end;
        from += converter.ConvertLines(text.substr(from, end - from), atEnd, written);
        if (written.size() >= kWriteSize || atEnd) {
            outputBytes += written.size();
            written.clear();
        }
        if (atEnd)
            break;
    }
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    const double cpuMs = ProcessCpuMs() - cpuStart;
    if (!silent && (counting.shown != converter.ConvertedCount() || counting.passes != counting.shown)) {
        std::fputs("convert: the view was not called once per replaced character\n", stderr);
        std::exit(1);
    }
    return {ms.count(), cpuMs, outputBytes, converter.ConvertedCount()};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "convert") == 0) {
        std::string_view how = argv[2];
        const bool toGb = how.starts_with("t2s");
        if (how.substr(0, 3) != (toGb ? "t2s" : "s2t"))
            return Usage();
        how.remove_prefix(3);
        const bool utf8 = how.starts_with("-utf8");
        if (utf8)
            how.remove_prefix(5);
        const bool byCharacter = how.starts_with("-by-character");
        if (byCharacter)
            how.remove_prefix(13);
        const bool oneThread = how == "-one-thread";
        if (!how.empty() && !oneThread)
            return Usage();
        const auto phrasing = byCharacter ? fanjian::Phrasing::ByCharacter : fanjian::Phrasing::Phrases;
        const auto encoding = utf8 ? fanjian::TextEncoding::Utf8 : fanjian::TextEncoding::CodePage;
        const auto direction = toGb ? fanjian::ConversionDirection::TraditionalToSimplified
                                    : fanjian::ConversionDirection::SimplifiedToTraditional;
        const int times = argc >= 6 ? std::max(1, std::atoi(argv[5])) : 9;
        const bool silent = argc >= 7 && std::strcmp(argv[6], "silent") == 0;
        const std::string text = ReadWhole(argv[3]);
        fanjian::CharacterDictionary dictionary;
        dictionary.Open(argv[4]);
        std::vector<ConvertPass> passes;
        for (int i = 0; i < times; ++i)
            passes.push_back(ConvertInMemory(direction, encoding, phrasing, oneThread, dictionary, text, silent));
        for (const ConvertPass& pass : passes) {
            if (pass.outputBytes != passes[0].outputBytes || pass.replaced != passes[0].replaced) {
                std::fputs("convert: the passes gave different outputs\n", stderr);
                return 1;
            }
        }
        std::vector<double> ms, cpuMs;
        for (const ConvertPass& pass : passes) {
            ms.push_back(pass.ms);
            cpuMs.push_back(pass.cpuMs);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpuMs.begin(), cpuMs.end());
        const double mb = static_cast<double>(text.size()) / (1024 * 1024);
        const auto speed = [mb](double milliseconds) { return mb / (milliseconds / 1000); };
        std::printf("convert %.2f ms %.0f MB/s\nprocessor %.2f ms %.0f MB/s\nfastest %.2f ms %.0f MB/s\n"
                    "output %llu bytes, %llu replaced\n",
                    ms[ms.size() / 2], speed(ms[ms.size() / 2]), cpuMs[cpuMs.size() / 2],
                    speed(cpuMs[cpuMs.size() / 2]), ms[0], speed(ms[0]),
                    static_cast<unsigned long long>(passes[0].outputBytes),
                    static_cast<unsigned long long>(passes[0].replaced));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "open") == 0) {
        const int times = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 21;
        std::vector<double> ms;
        for (int i = 0; i < times; ++i) {
            const auto start = std::chrono::steady_clock::now();
            fanjian::CharacterDictionary dictionary;
            dictionary.Open(argv[2]);
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%.2f\n", ms[ms.size() / 2]);
        return 0;
    }
    return Usage();
}
