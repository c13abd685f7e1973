// Times the conversion core without a window.
//
//   fanjian_headless run t2s|s2t FOLDER PROGRAM_DIR   one run, with a view that discards everything
//   fanjian_headless open PROGRAM_DIR [TIMES]          median time of CharacterDictionary::Open
//
// A run prints its outcome (the last status text) so that a benchmark notices a failed run, then
// "run <ms> ms", the time of ConversionRun::Run alone.
#include "conversion/ConversionRun.h"
#include "dictionary/CharacterDictionary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Keeps the status, to tell how the run ended; shows nothing else.
class DiscardingView : public fanjian::SilentProgressView {
public:
    std::string status;
    void ShowStatus(std::string_view text) override { status = text; }
};

int Usage()
{
    std::fputs("usage: fanjian_headless run t2s|s2t FOLDER PROGRAM_DIR\n"
               "       fanjian_headless open PROGRAM_DIR [TIMES]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "run") == 0) {
        const bool toGb = std::strcmp(argv[2], "t2s") == 0;
        if (!toGb && std::strcmp(argv[2], "s2t") != 0)
            return Usage();
        const auto direction = toGb ? fanjian::ConversionDirection::TraditionalToSimplified
                                    : fanjian::ConversionDirection::SimplifiedToTraditional;
        DiscardingView view;
        const auto start = std::chrono::steady_clock::now();
        fanjian::ConversionRun().Run(direction, argv[3], argv[4], view);
        const std::chrono::duration<double, std::milli> runTime = std::chrono::steady_clock::now() - start;
        std::printf("%s\nrun %.2f ms\n", view.status.c_str(), runTime.count());
        return view.status == fanjian::texts::Completion(direction) ? 0 : 1;
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
