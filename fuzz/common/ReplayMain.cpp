// Without libFuzzer: runs the target once over every file named on the
// command line, folders included (one level), to replay a crash or a corpus.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool runFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    unsigned runs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        if (!path.empty() && path[0] == '-') {
            continue; // libFuzzer options mean nothing here
        }
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            DIR* dir = opendir(path.c_str());
            if (dir == nullptr) {
                ok = false;
                continue;
            }
            while (dirent* entry = readdir(dir)) {
                const std::string file = path + "/" + entry->d_name;
                struct stat fs {};
                if (stat(file.c_str(), &fs) == 0 && S_ISREG(fs.st_mode)) {
                    ok = runFile(file) && ok;
                    ++runs;
                }
            }
            closedir(dir);
        } else {
            ok = runFile(path) && ok;
            ++runs;
        }
    }
    std::printf("%u inputs replayed\n", runs);
    return ok ? 0 : 1;
}
