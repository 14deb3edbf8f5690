#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace tallox::test {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix)
    : m_path(fs::path(::testing::TempDir()) /
             (prefix + "_" + std::to_string(getpid()) + "_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(m_path);
    fs::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code error;
    fs::remove_all(m_path, error);
}

fs::path TempFolder::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const fs::path file = m_path / name;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file;
}

}  // namespace tallox::test
