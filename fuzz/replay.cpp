// A fuzz target's function run on files, as libFuzzer runs it on a corpus,
// for every build: the seeds (and any input a fuzzer once found, added to
// them) stay checked by the tests, whatever the compiler.
//   replay-TARGET FILE_OR_FOLDER...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::set<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (!std::filesystem::is_directory(argv[i], ec)) {
            inputs.insert(argv[i]);
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], ec))
            if (entry.is_regular_file()) inputs.insert(entry.path());
    }
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return std::fprintf(stderr, "replay: cannot read %s\n", path.c_str()), 1;
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    if (inputs.empty()) return std::fprintf(stderr, "replay: no inputs\n"), 1;
    std::printf("replay: %zu inputs\n", inputs.size());
    return 0;
}
