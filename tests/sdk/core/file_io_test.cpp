#include "sdk/core/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace telemetry;

class CreateDirectoriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/orrery-file-io-XXXXXX";
    mRoot = mkdtemp(templ);
  }
  void TearDown() override { std::filesystem::remove_all(mRoot); }
  std::string mRoot;
};

TEST_F(CreateDirectoriesTest, MakesWhatIsMissingAndNamesWhatStandsInTheWay) {
  std::ofstream(mRoot + "/file") << "x";
  struct Case {
    std::string path;
    bool made;
    std::string failedAt;  // below the root, for a failure
  } cases[] = {
      {"/a/b/c/d", true, ""},
      {"/a/b/c/d/", true, ""},     // made already; a trailing slash changes nothing
      {"/a/b/e", true, ""},        // beside an existing folder
      {"/file", false, "/file"},   // a file where the folder should be
      {"/file/inner/more", false, "/file/inner/more"},
  };
  for (const Case& c : cases) {
    std::string error;
    const bool made = fileio::createDirectories(mRoot + c.path, &error);
    EXPECT_EQ(made, c.made) << c.path;
    if (c.made) {
      EXPECT_TRUE(std::filesystem::is_directory(mRoot + c.path)) << c.path;
    } else {
      EXPECT_EQ(error.rfind("cannot create " + mRoot + c.failedAt + ":", 0), 0u) << c.path << ": " << error;
    }
  }
}

}  // namespace
