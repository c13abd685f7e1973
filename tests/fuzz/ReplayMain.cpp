// Runs a fuzz target's inputs through its checks without libFuzzer, as an ordinary test:
//   replay <seed-corpus-folder> [<more folders>...]
// The first folder must hold inputs; the others (findings) may be missing or empty. A failing
// check aborts with the input's name.

#include "FuzzHarness.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsIn(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> inputs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

bool ReadInput(const std::filesystem::path& file, std::string& bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <seed-corpus-folder> [<more folders>...]\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path folder = argv[i];
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) {
            if (i == 1) {
                std::fprintf(stderr, "no seed corpus at %s\n", folder.c_str());
                return 1;
            }
            continue;
        }
        const std::vector<std::filesystem::path> inputs = InputsIn(folder);
        if (i == 1 && inputs.empty()) {
            std::fprintf(stderr, "the seed corpus %s is empty\n", folder.c_str());
            return 1;
        }
        for (const std::filesystem::path& input : inputs) {
            std::string bytes;
            if (!ReadInput(input, bytes)) {
                std::fprintf(stderr, "cannot read %s\n", input.c_str());
                return 1;
            }
            const std::string name = input.string();
            fanjian::fuzz::currentInput = name.c_str();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            fanjian::fuzz::currentInput = nullptr;
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
