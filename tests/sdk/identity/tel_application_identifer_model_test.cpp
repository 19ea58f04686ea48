#include <gtest/gtest.h>

#include <fstream>

#include "binary/mach_o_builder.h"
#include "sdk/binary/elf_reader.h"
#include "sdk/core/standard_paths.h"
#include "sdk/identity/encoding.h"
#include "sdk/identity/main_bundle.h"
#include "sdk/identity/tel_application_identifer_model.h"
#include "sdk/onboarding/tel_icon.h"

using namespace telemetry;
using telemetry::test::fatImage;
using telemetry::test::MachOBuilder;

namespace {

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = paths::join(paths::temporaryDirectory(), name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::array<uint8_t, 16> uuidOf(uint8_t fill) {
  std::array<uint8_t, 16> u{};
  u.fill(fill);
  return u;
}

}  // namespace

TEST(TELApplicationIdentiferModel, ThinExecutableGivesOneSliceAndItsHash) {
  auto image = MachOBuilder(true, 0x01000007, 3).uuid(uuidOf(0xab)).versionMin(0x24, 0x000A0B00, 0x000A0C00).build();
  int iconCalls = 0;
  auto model = TELApplicationIdentiferModel::createForExecutable(writeTemp("thin-app", image), "INSTALL-1", [&] {
    ++iconCalls;
    return std::make_shared<TELIcon>(std::vector<uint8_t>{1, 2, 3}, TELIconSize{16, 16});
  });
  ASSERT_NE(model, nullptr);
  const std::string uuid(32, 'a');
  std::string expectedUUID;
  for (int i = 0; i < 16; ++i) expectedUUID += "ab";
  ASSERT_EQ(model->architectureUUIDMap().size(), 1u);
  EXPECT_EQ(model->architectureUUIDMap().at("x86_64"), expectedUUID);
  EXPECT_EQ(model->instanceIdentifier(), TELSHA1HexStringFromData(expectedUUID));
  EXPECT_EQ(model->minimumSDKString(), "10.11.0");
  EXPECT_EQ(model->builtSDKString(), "10.12.0");
  EXPECT_EQ(model->installID(), "INSTALL-1");
  EXPECT_EQ(iconCalls, 0) << "the icon's file is read when the icon is first wanted";
  EXPECT_NE(model->icon(), nullptr);
  EXPECT_NE(model->icon(), nullptr);
  EXPECT_EQ(iconCalls, 1);
  EXPECT_EQ(model->bundleIdentifier(), MainBundle::shared().bundleIdentifier());
}

TEST(TELApplicationIdentiferModel, FatExecutableHashesUUIDsInArchitectureOrderAndKeepsTheLastVersions) {
  auto intel = MachOBuilder(true, 0x01000007, 3).uuid(uuidOf(0x22)).versionMin(0x24, 0x000A0900, 0x000A0A00).build();
  auto arm = MachOBuilder(true, 0x0100000C, 0).uuid(uuidOf(0x11)).versionMin(0x24, 0x000B0000, 0x000B0100).build();
  auto model = TELApplicationIdentiferModel::createForExecutable(
      writeTemp("fat-app", fatImage({{{0x01000007, 3}, intel}, {{0x0100000C, 0}, arm}})), "id");
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(model->architectureUUIDMap().size(), 2u);
  const std::string a = TELHexStringFromUUIDBytes(uuidOf(0x11).data());
  const std::string x = TELHexStringFromUUIDBytes(uuidOf(0x22).data());
  EXPECT_EQ(model->instanceIdentifier(), TELSHA1HexStringFromData(a + x));  // "arm64" sorts before "x86_64"
  EXPECT_EQ(model->minimumSDKString(), "11.0.0");                          // the slice visited last
  EXPECT_EQ(model->builtSDKString(), "11.1.0");
  EXPECT_EQ(model->icon(), nullptr);

  // A rebuilt executable (new UUIDs) has another instance identifier.
  auto rebuilt = MachOBuilder(true, 0x01000007, 3).uuid(uuidOf(0x23)).build();
  auto other = TELApplicationIdentiferModel::createForExecutable(
      writeTemp("fat-app-2", fatImage({{{0x01000007, 3}, rebuilt}, {{0x0100000C, 0}, arm}})), "id");
  EXPECT_NE(other->instanceIdentifier(), model->instanceIdentifier());
}

TEST(TELApplicationIdentiferModel, ExecutablesWithoutCommandsOrFilesDegradeAsDescribed) {
  auto bare = TELApplicationIdentiferModel::createForExecutable(
      writeTemp("bare-app", MachOBuilder(true, 0x01000007, 3).build()), "id");
  ASSERT_NE(bare, nullptr);
  EXPECT_TRUE(bare->architectureUUIDMap().empty());
  EXPECT_EQ(bare->instanceIdentifier(), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(bare->minimumSDKString(), "0.0.0");
  EXPECT_EQ(bare->builtSDKString(), "0.0.0");
  EXPECT_EQ(TELApplicationIdentiferModel::createForExecutable("/nonexistent/app", "id"), nullptr);
}

TEST(TELApplicationIdentiferModel, RunningExecutableIsIdentifiedByItsBuildID) {
  auto first = TELApplicationIdentiferModel::create("id");
  auto second = TELApplicationIdentiferModel::create("id");
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(first->architectureUUIDMap().size(), 1u);
  TELElfImage loaded = TELElfExecutableImage();
  uint8_t buildID[32];
  size_t n = TELElfGetBuildID(&loaded, buildID, sizeof buildID);
  ASSERT_GE(n, 16u);
  EXPECT_EQ(first->architectureUUIDMap().begin()->second, TELHexStringFromUUIDBytes(buildID));
  EXPECT_EQ(first->instanceIdentifier(), second->instanceIdentifier());
  EXPECT_EQ(first->instanceIdentifier().size(), 40u);
}
