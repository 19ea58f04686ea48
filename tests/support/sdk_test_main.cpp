#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

// Qt-free test main: every standard folder points at a fresh temporary folder, so no test
// touches the real home folder, and resources come from the source tree.
int main(int argc, char** argv) {
  char templ[] = "/tmp/orrery-sdk-test-XXXXXX";
  const char* root = mkdtemp(templ);
  if (!root) return 2;
  const std::string base(root);
  setenv("HOME", base.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
  setenv("XDG_DATA_HOME", (base + "/data").c_str(), 1);
  setenv("XDG_CACHE_HOME", (base + "/cache").c_str(), 1);
  setenv("TMPDIR", (base + "/tmp").c_str(), 1);
  setenv("ORRERY_RESOURCES_DIR", ORRERY_TEST_RESOURCES_DIR, 1);
  std::string cmd = "mkdir -p -m 700 '" + base + "/config' '" + base + "/data' '" + base + "/cache' '" + base + "/tmp'";
  if (std::system(cmd.c_str()) != 0) return 2;
  ::testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();
  std::string rm = "rm -rf '" + base + "'";
  (void)std::system(rm.c_str());
  return rc;
}
