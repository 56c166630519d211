// Runs a fuzz target without libFuzzer: every seed of the corpus once, then
// random mutations of the seeds until the time is up. A short, bounded smoke
// run for the test suite; long campaigns use the libFuzzer build.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> loadSeeds(const std::filesystem::path &dir)
{
    std::vector<std::vector<uint8_t>> seeds;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (seeds.empty())
        seeds.emplace_back();
    return seeds;
}

void mutate(std::vector<uint8_t> &input, std::mt19937 &rng)
{
    std::uniform_int_distribution<int> byte(0, 255);
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < edits; ++i) {
        switch (rng() % 4) {
        case 0:
            if (!input.empty())
                input[rng() % input.size()] = static_cast<uint8_t>(byte(rng));
            break;
        case 1:
            input.insert(input.begin() + static_cast<long>(input.empty() ? 0 : rng() % (input.size() + 1)),
                         static_cast<uint8_t>(byte(rng)));
            break;
        case 2:
            if (!input.empty())
                input.erase(input.begin() + static_cast<long>(rng() % input.size()));
            break;
        default:
            if (!input.empty())
                input.resize(rng() % (input.size() + 1));
            break;
        }
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR [SECONDS]\n", argv[0]);
        return 2;
    }
    auto seeds = loadSeeds(argv[1]);
    double seconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    for (const auto &seed : seeds)
        LLVMFuzzerTestOneInput(seed.data(), seed.size());

    std::mt19937 rng(12345);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    unsigned long runs = seeds.size();
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<uint8_t> input = seeds[rng() % seeds.size()];
        mutate(input, rng);
        LLVMFuzzerTestOneInput(input.data(), input.size());
        ++runs;
    }
    std::printf("%lu inputs ran clean\n", runs);
    return 0;
}
