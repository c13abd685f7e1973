// Times the conversion core without a window.
//
//   fanjian_headless run t2s|s2t FOLDER PROGRAM_DIR   one run, with a view that discards everything
//   fanjian_headless open PROGRAM_DIR [TIMES]          median time of CharacterDictionary::Open
//
// A run prints its outcome (the last status text) so that a benchmark notices a failed run.
#include "conversion/ConversionRun.h"
#include "dictionary/CharacterDictionary.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class DiscardingView : public fanjian::ProgressView {
public:
    std::string status;
    void ClearSourceList() override {}
    void AddSourceListItem(std::string_view) override {}
    void ClearResultList() override {}
    void AddResultListItem(std::string_view) override {}
    void ShowStatus(std::string_view text) override { status = text; }
    void ShowFileName(std::string_view) override {}
    void ShowFileCount(std::string_view) override {}
    void ShowCharacterCount(std::string_view) override {}
    void ProcessPendingEvents() override {}
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
        DiscardingView view;
        fanjian::ConversionRun().Run(toGb ? fanjian::ConversionDirection::TraditionalToSimplified
                                          : fanjian::ConversionDirection::SimplifiedToTraditional,
                                     argv[3], argv[4], view);
        std::printf("%s\n", view.status.c_str());
        return view.status == fanjian::texts::Completion(toGb ? fanjian::ConversionDirection::TraditionalToSimplified
                                                              : fanjian::ConversionDirection::SimplifiedToTraditional)
                   ? 0
                   : 1;
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
