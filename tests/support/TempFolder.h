#pragma once

// Each test runs in a fresh temporary working folder, as the program uses its
// working folder for every file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tw::test {

class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path folder;

  private:
    std::filesystem::path previous_;
};

void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

}  // namespace tw::test
