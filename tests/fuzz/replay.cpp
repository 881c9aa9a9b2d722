// A fuzz target without libFuzzer: runs it once over each file of the folder given, its corpus.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    int inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(argc > 1 ? argv[1] : ".")) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string input { std::istreambuf_iterator<char>(file), {} };
        inputs += LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size()) == 0;
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}
