#include "TempFolder.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tw::test {

void TempFolderTest::SetUp() {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "tonewell-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    ASSERT_NE(made, nullptr);
    folder = made;
    std::filesystem::current_path(folder);
    // No test sees an installed copy of Tonewell: its installed-data folder is one
    // of the test's own (a test that wants one fills it, or points elsewhere).
    setenv("TONEWELL_DATA_DIR", (folder / "no-installed-data").c_str(), 1);
}

void TempFolderTest::TearDown() {
    if (folder.empty()) return;  // skipped before SetUp made it
    std::filesystem::current_path(previous_);
    std::error_code ec;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(folder, ec);
}

void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace tw::test
