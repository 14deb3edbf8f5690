// A folder of the running test's own, removed with the object.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tallox::test {

class TempFolder {
public:
    // <test temp dir>/<prefix>_<pid>_<test name>, created empty. Construct it while a test runs
    // (a fixture member), so the name is the test's.
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes `bytes` to the file `name` in the folder and returns its path.
    std::filesystem::path Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::filesystem::path m_path;
};

}  // namespace tallox::test
