// Runs a fuzz target's entry point over files and folders of inputs, so that
// seed corpora and every crash input kept as a regression seed are replayed by
// the normal test run (no libFuzzer needed).  A folder that does not exist
// (a target without regression inputs) is skipped; each input is named on
// standard error before it runs, so a failing run shows which one it was.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    unsigned count = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        std::vector<std::filesystem::path> files;
        if (!std::filesystem::exists(p)) {
            continue;
        }
        if (std::filesystem::is_directory(p)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(p)) {
                if (e.is_regular_file()) files.push_back(e.path());
            }
        } else {
            files.push_back(p);
        }
        for (const auto& f : files) {
            fprintf(stderr, "replaying %s\n", f.c_str());
            std::ifstream in(f, std::ios::binary);
            std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++count;
        }
    }
    printf("replayed %u inputs\n", count);
    return count > 0 ? 0 : 1;
}
