// Replays a stored corpus through a fuzz target without libFuzzer, so that every build, g++ ones
// included, checks in seconds that no input once found still breaks an invariant.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIRECTORY\n", argv[0]);
        return 2;
    }
    std::vector<std::filesystem::path> inputs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[1], error)) {
        if (entry.is_regular_file()) {
            inputs.push_back(entry.path());
        }
    }
    if (error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    // An empty corpus would pass while testing nothing.
    if (inputs.empty()) {
        std::fprintf(stderr, "%s: no inputs to replay\n", argv[1]);
        return 1;
    }
    // Name order, so that a failure repeats the same way on every machine.
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        std::vector<std::uint8_t> bytes(std::filesystem::file_size(path, error));
        file.read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (error || !file) {
            std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
            return 1;
        }
        // Named before it runs: an input that breaks an invariant stops the program at once.
        std::fprintf(stderr, "replaying %s\n", path.filename().c_str());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed from %s\n", inputs.size(), argv[1]);
    return 0;
}
