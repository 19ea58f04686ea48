#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "sdk/core/file_io.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/application_identity.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/host_identity.h"
#include "sdk/identity/host_identity_testing.h"
#include "sdk/identity/main_bundle.h"

using namespace telemetry;
using nlohmann::json;

namespace {

class Identity : public ::testing::Test {
 protected:
  void TearDown() override {
    MainBundle::shared().setInfoDictionary(std::nullopt);
    TELSetHostRootForTesting("");
  }
  void info(json v) { MainBundle::shared().setInfoDictionary(std::move(v)); }
};

void writeText(const std::string& path, const std::string& text) {
  fileio::createDirectories(path.substr(0, path.rfind('/')));
  std::ofstream(path) << text;
}

}  // namespace

TEST_F(Identity, TheSourceTreePropertyListIsFoundAndHoldsTheConfiguration) {
  json plist = MainBundle::shared().infoDictionary();
  ASSERT_TRUE(plist.is_object());
  EXPECT_TRUE(plist["Telemetry"]["APIKey"].is_string());
  EXPECT_TRUE(plist["CrashKit"].is_object());
  EXPECT_EQ(TELApplicationEscapedBundleIdentifier(), "org.orrery.Orrery");
}

TEST_F(Identity, ThePropertyListIsLookedForWhereNamedAndBesideTheExecutableOnly) {
  const std::string source = ORRERY_TEST_RESOURCES_DIR;
  std::string previous = std::getenv("ORRERY_RESOURCES_DIR") ? std::getenv("ORRERY_RESOURCES_DIR") : "";
  unsetenv("ORRERY_RESOURCES_DIR");
  auto unnamed = MainBundle::shared().infoSearchPaths();
  setenv("ORRERY_RESOURCES_DIR", "/somewhere/named", 1);
  auto named = MainBundle::shared().infoSearchPaths();
  setenv("ORRERY_RESOURCES_DIR", previous.c_str(), 1);

  for (const auto& path : unnamed) EXPECT_NE(path.rfind(source, 0), 0u) << path;
  ASSERT_FALSE(named.empty());
  EXPECT_EQ(named.front(), "/somewhere/named/sdk/Info.plist");
  EXPECT_EQ(named.size(), unnamed.size() + 1);
  EXPECT_EQ(unnamed.front().rfind(MainBundle::shared().bundlePath(), 0), 0u);
}

TEST_F(Identity, BundleFactsFollowTheirFallbacks) {
  info({{"CFBundleIdentifier", "com.example/app/x"}, {"CFBundleVersion", "77"}, {"CFBundleShortVersionString", "2.1"},
        {"CFBundleName", "Plain"}});
  EXPECT_EQ(TELApplicationEscapedBundleIdentifier(), "com.example_app_x");
  EXPECT_EQ(TELApplicationBuildVersion(), "77");
  EXPECT_EQ(TELApplicationDisplayVersion(), "2.1");
  EXPECT_EQ(TELApplicationName(), "Plain");
  info({{"CFBundleIdentifier", "com.example.app"}, {"CFBundleVersion", "77"}, {"CFBundleDisplayName", "Shown"},
        {"CFBundleName", "Plain"}});
  EXPECT_EQ(TELApplicationEscapedBundleIdentifier(), "com.example.app");
  EXPECT_EQ(TELApplicationName(), "Shown");
  info({{"CFBundleVersion", "77"}, {"CFBundleDisplayName", 5}});
  EXPECT_EQ(TELApplicationName(), "77");
  EXPECT_EQ(TELApplicationEscapedBundleIdentifier(), std::nullopt);
  info(json::object());
  EXPECT_EQ(TELApplicationName(), std::nullopt);
  EXPECT_EQ(TELApplicationDisplayVersion(), std::nullopt);
}

TEST_F(Identity, InstallSourceAndDeviceIdentifierSwitches) {
  info({{"CrashKitSignedForDistribution", true}});
  EXPECT_EQ(TELApplicationInstallSource(), kTELInstallSourceSignedForDistribution);
  info({{"CrashKitSignedForDistribution", "YES"}});
  EXPECT_TRUE(TELApplicationSignedForDistribution());
  info({{"CrashKitSignedForDistribution", "no"}});
  EXPECT_EQ(TELApplicationInstallSource(), kTELInstallSourceOther);

  // On an OS coded below 1070 (10.12 gives 0) the application never counts as from the store.
  const std::string root = paths::join(paths::temporaryDirectory(), "host-store");
  writeText(root + "/etc/os-release", "NAME=Test\nVERSION_ID=\"10.12.4\"\n");
  TELSetHostRootForTesting(root);
  EXPECT_FALSE(TELApplicationInstalledFromStore());

  info({{"Telemetry", {{"ReportIdentifiers", false}}}, {"CrashKitCollectDeviceIdentifiers", true}});
  EXPECT_FALSE(TELApplicationCollectsDeviceIdentifiers());
  info({{"Telemetry", json::object()}, {"CrashKitCollectDeviceIdentifiers", false}});
  EXPECT_FALSE(TELApplicationCollectsDeviceIdentifiers());
  info({{"Telemetry", {{"ReportIdentifiers", 1}}}, {"CrashKitCollectDeviceIdentifiers", false}});
  EXPECT_TRUE(TELApplicationCollectsDeviceIdentifiers());
  info(json::object());
  EXPECT_TRUE(TELApplicationCollectsDeviceIdentifiers());
  EXPECT_FALSE(boolValueOf(" -000"));
  EXPECT_FALSE(boolValueOf("NO"));
  EXPECT_TRUE(boolValueOf(" +007"));
  EXPECT_TRUE(boolValueOf("true"));
  EXPECT_FALSE(boolValueOf(json::array()));
}

TEST_F(Identity, HostFactsComeFromTheSystemFiles) {
  const std::string root = paths::join(paths::temporaryDirectory(), "host-facts");
  writeText(root + "/etc/os-release", "PRETTY_NAME=\"Ubuntu 22.04.3 LTS\"\nVERSION_ID=\"22.04\"\n");
  writeText(root + "/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
  writeText(root + "/sys/class/dmi/id/product_name", "ThinkPad X1 Carbon Gen 9\n");
  TELSetHostRootForTesting(root);
  EXPECT_EQ(TELHostOperatingSystemVersion(), (TELOperatingSystemVersion{22, 4, 0}));
  EXPECT_EQ(TELHostOSDisplayVersion(), "22.4.0");
  EXPECT_EQ(TELHostOperatingSystemVersionCode(), 0);
  EXPECT_EQ(TELHostOSBuildVersion(), "6.1.0-18-amd64");
  EXPECT_EQ(TELHostModel(), "ThinkPad X1 Carbon Gen 9");

  // A value that does not fit the 128-byte buffer yields nothing; so do odd names.
  writeText(root + "/sys/class/dmi/id/product_name", std::string(128, 'M'));
  EXPECT_EQ(TELHostModel(), std::nullopt);
  writeText(root + "/sys/class/dmi/id/product_name", std::string(127, 'M'));
  EXPECT_EQ(TELHostModel()->size(), 127u);
  EXPECT_EQ(TELHostSysctlString("kernel..osrelease"), std::nullopt);
  EXPECT_EQ(TELHostSysctlString("../etc/passwd"), std::nullopt);
  EXPECT_EQ(TELHostSysctlString("kernel.missing"), std::nullopt);

  // Without DMI the device tree names the model (its text ends in a zero byte), from
  // either of its two places; with neither there is none.
  fileio::removeItem(root + "/sys/class/dmi");
  writeText(root + "/sys/firmware/devicetree/base/model", std::string("Raspberry Pi 4 Model B\0", 23));
  EXPECT_EQ(TELHostModel(), "Raspberry Pi 4 Model B");
  writeText(root + "/proc/device-tree/model", std::string("Pine64 RockPro64 v2.1\0", 22));
  EXPECT_EQ(TELHostModel(), "Pine64 RockPro64 v2.1");
  fileio::removeItem(root + "/proc/device-tree");
  fileio::removeItem(root + "/sys/firmware");
  EXPECT_EQ(TELHostModel(), std::nullopt);

  // Debian's point release is in debian_version; what is no version of the same release there
  // (a testing system's codename, another major number) leaves os-release's.
  const struct {
    const char* versionID;
    const char* debianVersion;
    TELOperatingSystemVersion expected;
  } debian[] = {{"12", "12.11\n", {12, 11, 0}},
                {"12", "trixie/sid\n", {12, 0, 0}},
                {"12", "13.1\n", {12, 0, 0}},
                {"1", "12.1\n", {1, 0, 0}}};
  for (const auto& c : debian) {
    writeText(root + "/etc/os-release", std::string("ID=debian\nVERSION_ID=\"") + c.versionID + "\"\n");
    writeText(root + "/etc/debian_version", c.debianVersion);
    EXPECT_EQ(TELHostOperatingSystemVersion(), c.expected) << c.debianVersion;
  }

  // Without os-release the kernel release stands in.
  fileio::removeItem(root + "/etc");
  EXPECT_EQ(TELHostOperatingSystemVersion(), (TELOperatingSystemVersion{6, 1, 0}));

  TELOperatingSystemVersion sierra = TELParseOperatingSystemVersion("10.12.4");
  EXPECT_EQ(TELOperatingSystemVersionCode(sierra), 0);
  EXPECT_EQ(TELOperatingSystemVersionCode(TELParseOperatingSystemVersion("10.9.5")), 1090);
  EXPECT_EQ(TELOperatingSystemVersionCode(TELParseOperatingSystemVersion("10.11")), 101100);
  EXPECT_EQ(TELParseOperatingSystemVersion("rolling"), (TELOperatingSystemVersion{0, 0, 0}));
}

TEST_F(Identity, HexSHA1AndUUIDHelpers) {
  char buffer[7];
  std::memset(buffer, 'x', sizeof buffer);
  const uint8_t bytes[] = {0x00, 0xab, 0xff};
  TELHexEncodeBytes(bytes, 3, buffer);
  EXPECT_STREQ(buffer, "00abff");
  std::memset(buffer, 'x', sizeof buffer);
  TELHexEncodeBytes(nullptr, 3, buffer);
  EXPECT_EQ(std::string(buffer, 7), std::string(7, '\0'));
  TELHexEncodeBytes(bytes, 3, nullptr);  // nothing to write into

  EXPECT_EQ(TELSHA1HexStringFromData(std::string("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(TELSHA1HexStringFromData(std::vector<uint8_t>{}), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  // Longer than one 64-byte block, and a million bytes.
  EXPECT_EQ(TELSHA1HexStringFromData(std::string("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(TELSHA1HexStringFromData(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(TELSHA1HexStringFromBytes(nullptr, 10), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  const uint8_t uuid[16] = {0xde, 0xad, 0xbe, 0xef, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(TELHexStringFromUUIDBytes(uuid), "deadbeef000102030405060708090a0b");

  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string u = TELGenerateUUIDString();
    ASSERT_EQ(u.size(), 36u);
    for (size_t k = 0; k < u.size(); ++k) {
      if (k == 8 || k == 13 || k == 18 || k == 23)
        EXPECT_EQ(u[k], '-');
      else
        EXPECT_NE(std::string("0123456789ABCDEF").find(u[k]), std::string::npos) << u;
    }
    EXPECT_EQ(u[14], '4');
    seen.insert(u);
  }
  EXPECT_EQ(seen.size(), 100u);

  int calls = 0;
  TELEnumerateDataByteRanges({1, 2, 3}, [&](const uint8_t* p, TELByteRange r, bool*) {
    ++calls;
    EXPECT_EQ(p[2], 3);
    EXPECT_EQ(r.location, 0u);
    EXPECT_EQ(r.length, 3u);
  });
  EXPECT_EQ(calls, 1);
}
