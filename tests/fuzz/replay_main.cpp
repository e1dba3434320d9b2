// Runs a fuzz target over saved inputs (the seeds and every input that once found a
// fault), so ordinary builds keep them as regression tests.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

static bool run_file(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<std::uint8_t> bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF)
        bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char** argv)
{
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::string path = argv[i];
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* e = readdir(dir)) {
                if (e->d_name[0] == '.')
                    continue;
                if (run_file(path + "/" + e->d_name))
                    ++runs;
            }
            closedir(dir);
        } else if (run_file(path)) {
            ++runs;
        }
    }
    std::fprintf(stderr, "%d inputs replayed\n", runs);
    return runs > 0 ? 0 : 1;
}
