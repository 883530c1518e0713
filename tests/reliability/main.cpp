// bootreel-reliability: the long reliability runs, one per call; prints one summary line
// "reliability: <run> shows=N failures=M ..." and the first failures; exits 1 on any failure.
//   bootreel-reliability truncation [--stride N] [--corpus DIR]...
//   bootreel-reliability corruption [--count N] [--seed S] [--corpus DIR]...
//   bootreel-reliability load [--count N] [--seed S]
//   bootreel-reliability boot-timing [--count N] [--seed S]
//   bootreel-reliability hostile
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "show_runs.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s truncation|corruption|load|boot-timing|hostile [options]\n",
                     argv[0]);
        return 2;
    }
    const std::string run = argv[1];
    long count = 1000;
    std::size_t stride = 1;
    std::uint32_t seed = 1;
    std::vector<reliability::CorpusFile> corpus = reliability::GeneratedCorpus();
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", option.c_str());
            return 2;
        }
        const char* value = argv[++i];
        if (option == "--count") {
            count = std::atol(value);
        } else if (option == "--stride") {
            stride = static_cast<std::size_t>(std::atol(value));
        } else if (option == "--seed") {
            seed = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10));
        } else if (option == "--corpus") {
            for (auto& file : reliability::ReadCorpusFolder(value)) {
                file.name = std::string(value) + "/" + file.name;
                corpus.push_back(std::move(file));
            }
        } else {
            std::fprintf(stderr, "unknown option %s\n", option.c_str());
            return 2;
        }
    }

    reliability::RunSummary summary;
    try {
        if (run == "truncation") {
            std::size_t bytes = 0;
            for (const auto& file : corpus) bytes += file.bytes.size();
            std::printf("corpus: %zu files, %zu bytes\n", corpus.size(), bytes);
            for (const auto& file : corpus) {
                std::printf("  %s: %zu bytes\n", file.name.c_str(), file.bytes.size());
            }
            summary = reliability::RunTruncation(corpus, stride);
        } else if (run == "corruption") {
            summary = reliability::RunCorruption(corpus, count, seed);
        } else if (run == "load") {
            summary = reliability::RunLoad(count, seed);
        } else if (run == "boot-timing") {
            summary = reliability::RunBootTiming(count, seed);
        } else if (run == "hostile") {
            summary = reliability::RunHostile();
        } else {
            std::fprintf(stderr, "unknown run %s\n", run.c_str());
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "reliability: %s\n", error.what());
        return 2;
    }
    std::printf("%s\n", summary.Line().c_str());
    for (const std::string& example : summary.examples) {
        std::printf("  failure: %s\n", example.c_str());
    }
    return summary.failures == 0 ? 0 : 1;
}
