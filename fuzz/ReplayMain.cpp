// Runs a fuzz target's entry point over files and directories given on the command line
// (each file one input). Built with any compiler, so that the seed corpora and every
// finding kept in them are replayed by the ordinary test suite and its sanitizer builds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize);

namespace
{
bool RunFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
    {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> vecData((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // A copy on the heap of exactly the input's size: reads beyond it are caught by ASan.
    std::vector<uint8_t> vecInput(vecData.begin(), vecData.end());
    static const uint8_t s_nEmpty = 0;  // libFuzzer never passes a null pointer either
    (void)LLVMFuzzerTestOneInput(vecInput.empty() ? &s_nEmpty : vecInput.data(), vecInput.size());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    int nRun = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::error_code ec;
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path, ec))
        {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ec))
                if (entry.is_regular_file() && RunFile(entry.path()))
                    ++nRun;
        }
        else if (RunFile(path))
        {
            ++nRun;
        }
    }
    std::printf("%d inputs replayed\n", nRun);
    return nRun > 0 ? 0 : 1;
}
