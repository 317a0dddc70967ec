// Stands in for a newer agent in the self-update tests: it records that it ran, with its arguments,
// in "record-run.txt" beside its own executable, and ends.
#include <filesystem>
#include <fstream>
#include <system_error>

int main(int argc, char** argv) {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) self = std::filesystem::absolute(argv[0]);
    std::ofstream marker(self.parent_path() / "record-run.txt", std::ios::app | std::ios::binary);
    marker << "ran " << self.filename().string() << " args=" << (argc - 1);
    for (int i = 1; i < argc; ++i)
        marker << ' ' << argv[i];
    marker << '\n';
    return marker ? 0 : 1;
}
