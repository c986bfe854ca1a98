// Runs saved inputs through a fuzz target without libFuzzer: every file named on the command line,
// and every regular file of every folder named there (in name order), once each. A broken property
// aborts, so a failing input fails the run; otherwise the program says how many inputs it ran.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "FuzzSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const fs::path& argument) {
    std::vector<fs::path> inputs;
    std::error_code error;
    if (fs::is_directory(argument, error)) {
        for (const auto& entry : fs::directory_iterator(argument, error)) {
            if (entry.is_regular_file(error))
                inputs.push_back(entry.path());
        }
        std::sort(inputs.begin(), inputs.end());
    } else if (fs::is_regular_file(argument, error)) {
        inputs.push_back(argument);
    }
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t ran = 0;
    for (int i = 1; i < argc; ++i) {
        const std::vector<fs::path> inputs = inputsOf(argv[i]);
        if (inputs.empty()) {
            // A missing or empty corpus would make the run pass without testing anything.
            std::fprintf(stderr, "%s: no inputs at %s\n", argv[0], argv[i]);
            return 2;
        }
        for (const fs::path& input : inputs) {
            std::ifstream in(input, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size());
            ++ran;
        }
    }
    std::printf("%zu inputs ran without a broken property\n", ran);
    return ran > 0 ? 0 : 2;
}
