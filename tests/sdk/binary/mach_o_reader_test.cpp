#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "binary/mach_o_builder.h"
#include "sdk/binary/mach_o_reader.h"
#include "sdk/core/standard_paths.h"

using namespace telemetry;
using telemetry::test::ExactCopy;
using telemetry::test::fatImage;
using telemetry::test::MachOBuilder;

namespace {

constexpr int32_t kX86_64 = 0x01000007, kARM64 = 0x0100000C;
constexpr std::array<uint8_t, 16> kUUID = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                           0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};

std::string writeTemp(const std::string& name, const std::vector<uint8_t>& bytes) {
  std::string path = paths::join(paths::temporaryDirectory(), name);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

// Descriptors open on the given files; counting every descriptor of the process would also see
// the sockets and files other tests' threads open and close meanwhile.
int descriptorsOpenOn(const std::vector<std::string>& paths) {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(d)) {
      char target[4096];
      const std::string link = std::string("/proc/self/fd/") + entry->d_name;
      const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
      if (length <= 0) continue;
      target[length] = 0;
      for (const std::string& path : paths) n += path == target;
    }
    closedir(d);
  }
  return n;
}

struct Command {
  uint32_t cmd, size;
  std::vector<uint8_t> bytes;
};

std::vector<Command> commandsOf(CRKMachOSlice slice) {
  std::vector<Command> out;
  TELMachOEnumerateLoadCommands(&slice, [&](uint32_t cmd, uint32_t size, const uint8_t* p) {
    out.push_back({cmd, size, std::vector<uint8_t>(p, p + size)});
  });
  return out;
}

std::vector<CRKMachOSlice> slicesOf(const void* p, uint64_t size) {
  std::vector<CRKMachOSlice> out;
  TELMachOEnumerateSlices(p, size, [&](const CRKMachOSlice& s) { out.push_back(s); });
  return out;
}

std::vector<uint8_t> sampleImage() {
  return MachOBuilder(true, kX86_64, 3)
      .segment("__TEXT", 0x100000000, 0x4000,
               {{"__text", 0x100000f00, 0x80, 0xf00}, {"__eh_frame", 0x100000f80, 0x40, 0xf80}})
      .uuid(kUUID)
      .versionMin(0x24, 0x000A0B00, 0x000A0C01)
      .encryption(1)
      .dylib("/usr/lib/libSystem.B.dylib")
      .build(0x1000);
}


}  // namespace

TEST(MachOReader, ThinImageYieldsOneSliceWithItsCommandsVersionsAndSections) {
  const auto image = sampleImage();
  TELMachOFile file;
  ASSERT_TRUE(TELMachOOpenFile(&file, writeTemp("thin.bin", image).c_str()));
  std::vector<CRKMachOSlice> slices;
  TELMachOEnumerateSlicesOfFile(&file, [&](const CRKMachOSlice& s) { slices.push_back(s); });
  ASSERT_EQ(slices.size(), 1u);
  EXPECT_EQ(slices[0].header, file.mapping);
  EXPECT_STREQ(TELMachOArchitectureName(&slices[0]), "x86_64");
  EXPECT_TRUE(TELMachOSliceIs64Bit(&slices[0]));

  auto cmds = commandsOf(slices[0]);
  ASSERT_EQ(cmds.size(), 5u);
  EXPECT_EQ(cmds[0].cmd, kLoadCommandSegment64);
  TELMachOSegment seg = TELMachOGetSegment(cmds[0].bytes.data());
  EXPECT_STREQ(seg.name, "__TEXT");
  EXPECT_EQ(seg.address, 0x100000000u);
  EXPECT_EQ(seg.size, 0x4000u);
  EXPECT_EQ(TELMachOUUIDString(TELMachOGetUUID(cmds[1].bytes.data())), "0123456789abcdeffedcba9876543210");
  TELMachOVersion min = TELMachOGetMinimumOSVersion(cmds[2].bytes.data());
  TELMachOVersion sdk = TELMachOGetSDKVersion(cmds[2].bytes.data());
  EXPECT_EQ(TELMachOFormatVersion(&min), "10.11.0");
  EXPECT_EQ(TELMachOFormatVersion(&sdk), "10.12.1");
  EXPECT_EQ(TELMachOFormatVersion(nullptr), std::nullopt);
  EXPECT_TRUE(TELMachOIsEncrypted(cmds[3].bytes.data()));
  EXPECT_STREQ(TELMachOLoadCommandString(cmds[4].bytes.data()), "/usr/lib/libSystem.B.dylib");
  // Accessors refuse commands of another kind.
  EXPECT_EQ(TELMachOGetUUID(cmds[0].bytes.data()), nullptr);
  EXPECT_FALSE(TELMachOIsEncrypted(cmds[1].bytes.data()));
  EXPECT_EQ(TELMachOGetSegment(cmds[1].bytes.data()).size, 0u);
  EXPECT_EQ(TELMachOGetSegment(nullptr).address, 0u);

  TELMachOSection section;
  ASSERT_TRUE(TELMachOGetSection(&slices[0], "__TEXT", "__eh_frame", &section));
  EXPECT_EQ(section.address, 0x100000f80u);
  EXPECT_EQ(section.size, 0x40u);
  EXPECT_EQ(section.offset, 0xf80u);
  const void* pointer = nullptr;
  ASSERT_TRUE(TELMachOSectionPointer(&slices[0], "__TEXT", "__text", &pointer));
  EXPECT_EQ(pointer, static_cast<const uint8_t*>(file.mapping) + 0xf00);
  EXPECT_FALSE(TELMachOGetSection(&slices[0], "__DATA", "__crash_info", &section));
  EXPECT_EQ(section.size, 0u);  // zeroed first
  EXPECT_FALSE(TELMachOSectionPointer(&slices[0], "__TEXT", "__nothing", &pointer));
  EXPECT_EQ(pointer, nullptr);
  TELMachOCloseFile(&file);
  EXPECT_EQ(file.descriptor, -1);
}

TEST(MachOReader, FatFileYieldsItsSlicesInOrderWithByteSwappedFields) {
  auto intel = MachOBuilder(true, kX86_64, 3).uuid(kUUID).build();
  auto arm = MachOBuilder(true, kARM64, 0).uuid({}).versionMin(0x24, 0x000B0000, 0x000B0300).build();
  auto old = MachOBuilder(false, 7, 3).segment("__TEXT", 0x1000, 0x2000).build();
  auto fat = fatImage({{{kX86_64, 3}, intel}, {{kARM64, 0}, arm}, {{7, 3}, old}});
  TELMachOFile file;
  ASSERT_TRUE(TELMachOOpenFile(&file, writeTemp("fat.bin", fat).c_str()));
  std::vector<CRKMachOSlice> slices;
  TELMachOEnumerateSlicesOfFile(&file, [&](const CRKMachOSlice& s) { slices.push_back(s); });
  ASSERT_EQ(slices.size(), 3u);
  EXPECT_EQ(slices[0].cputype, kX86_64);
  EXPECT_EQ(slices[1].cputype, kARM64);
  EXPECT_EQ(slices[0].header, static_cast<const uint8_t*>(file.mapping) + 256);
  EXPECT_EQ(slices[1].header, static_cast<const uint8_t*>(file.mapping) + 512);
  EXPECT_STREQ(TELMachOArchitectureName(&slices[1]), "arm64");
  EXPECT_STREQ(TELMachOArchitectureName(&slices[2]), "i386");
  EXPECT_FALSE(TELMachOSliceIs64Bit(&slices[2]));
  auto armCmds = commandsOf(slices[1]);
  ASSERT_EQ(armCmds.size(), 2u);
  TELMachOVersion v = TELMachOGetMinimumOSVersion(armCmds[1].bytes.data());
  EXPECT_EQ(TELMachOFormatVersion(&v), "11.0.0");
  TELMachOSection section;
  EXPECT_FALSE(TELMachOGetSection(&slices[2], "__TEXT", "__text", &section));  // segment without sections
  auto oldCmds = commandsOf(slices[2]);
  ASSERT_EQ(oldCmds.size(), 1u);
  EXPECT_EQ(TELMachOGetSegment(oldCmds[0].bytes.data()).size, 0x2000u);

  EXPECT_EQ(TELMachOSliceForArchitecture(&file, "arm64").header, slices[1].header);
  EXPECT_EQ(TELMachOSliceForArchitecture(&file, "ppc").header, nullptr);
  TELMachOCloseFile(&file);
}

TEST(MachOReader, ArchitectureNamesFollowTheTable) {
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(kARM64, 0), "arm64");
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(kARM64, int32_t(0x80000002)), "arm64e");  // capability bits
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(12, 11), "armv7s");
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(12, 12), "armv7k");
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(12, 9), "armv7");
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(kX86_64, 8), "x86_64h");
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(7, 99), "i386");  // family of an unlisted subtype
  EXPECT_STREQ(TELMachOArchitectureNameForCPU(99, 0), "unknown");
  EXPECT_STREQ(TELMachOArchitectureName(nullptr), "unknown");
}

TEST(MachOReader, ForeignAndOtherByteOrderHeadersAreNamedButNeverWalked) {
  std::vector<uint8_t> junk(64, 0x5a);
  auto slices = slicesOf(junk.data(), junk.size());
  ASSERT_EQ(slices.size(), 1u);
  EXPECT_EQ(slices[0].cputype, 0);
  EXPECT_EQ(slices[0].cpusubtype, 0);
  EXPECT_TRUE(commandsOf(slices[0]).empty());

  // A big-endian PowerPC header with one (unswapped-looking) command.
  auto image = MachOBuilder(false, 18, 0).uuid(kUUID).build();
  for (size_t i = 0; i < 28; i += 4) std::reverse(image.begin() + long(i), image.begin() + long(i) + 4);
  slices = slicesOf(image.data(), image.size());
  ASSERT_EQ(slices.size(), 1u);
  EXPECT_STREQ(TELMachOArchitectureName(&slices[0]), "ppc");
  EXPECT_TRUE(commandsOf(slices[0]).empty());
}

TEST(MachOReader, ShortSegmentCommandsAreNeverReadPastTheirEnd) {
  // A 32-bit header (28 bytes) and one segment command that claims only its own 8 bytes, at
  // the very end of the file: its segment name would lie past the end.
  for (bool is64 : {false, true}) {
    std::vector<uint8_t> image(is64 ? 32 : 28, 0);
    auto put = [&](size_t at, uint32_t v) { std::memcpy(image.data() + at, &v, 4); };
    put(0, is64 ? 0xFEEDFACF : 0xFEEDFACE);
    put(4, is64 ? kX86_64 : 7);
    put(16, 1);  // one command
    put(20, 8);  // of 8 bytes
    image.resize(image.size() + 8);
    put(image.size() - 8, is64 ? kLoadCommandSegment64 : kLoadCommandSegment);
    put(image.size() - 4, 8);
    ExactCopy exact(image, image.size());
    EXPECT_EQ(exact.size, is64 ? 40u : 36u);
    auto slices = slicesOf(exact.bytes.get(), exact.size);
    ASSERT_EQ(slices.size(), 1u);
    EXPECT_EQ(commandsOf(slices[0]).size(), 1u);
    TELMachOSection section;
    EXPECT_FALSE(TELMachOGetSection(&slices[0], "__TEXT", "__text", &section));
    const void* pointer = nullptr;
    EXPECT_FALSE(TELMachOSectionPointer(&slices[0], "__TEXT", "__text", &pointer));
    EXPECT_EQ(TELMachOGetSegment(commandsOf(slices[0])[0].bytes.data()).size, 0u);
  }
}

TEST(MachOReader, TruncatedImagesYieldOnlyWholeCommands) {
  const auto image = sampleImage();
  const auto full = commandsOf(slicesOf(image.data(), image.size())[0]);
  uint64_t end = 32;
  std::vector<uint64_t> ends;
  for (const auto& c : full) ends.push_back(end += c.size);
  for (size_t n = 0; n <= ends.back() + 8; ++n) {
    ExactCopy cut(image, n);
    auto slices = slicesOf(cut.bytes.get(), cut.size);
    if (n < 4) {
      EXPECT_TRUE(slices.empty());
      continue;
    }
    ASSERT_EQ(slices.size(), 1u);
    auto cmds = commandsOf(slices[0]);
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= n) ++whole;
    ASSERT_EQ(cmds.size(), n < 32 ? 0 : whole) << "cut at " << n;
    for (size_t i = 0; i < cmds.size(); ++i) EXPECT_EQ(cmds[i].bytes, full[i].bytes);
    TELMachOSection section;
    const void* pointer = nullptr;
    TELMachOGetSection(&slices[0], "__TEXT", "__eh_frame", &section);
    EXPECT_FALSE(TELMachOSectionPointer(&slices[0], "__TEXT", "__eh_frame", &pointer));  // contents lie past the cut
  }
  // Fat files cut inside their table or slices.
  auto fat = fatImage({{{kX86_64, 3}, image}, {{kARM64, 0}, image}});
  for (size_t n : {4ul, 8ul, 27ul, 28ul, 47ul, 48ul, 300ul, 4000ul, fat.size() - 1}) {
    ExactCopy cut(fat, n);
    for (auto& s : slicesOf(cut.bytes.get(), cut.size)) {
      EXPECT_LE(static_cast<const uint8_t*>(s.header) + s.size, cut.bytes.get() + n);
      commandsOf(s);
    }
  }
}

TEST(MachOReader, LyingHeadersAreBoundedByTheMapping) {
  // Far more commands claimed than present.
  auto many = MachOBuilder(true, kX86_64, 3).uuid(kUUID).lieAboutCount(100000).build();
  EXPECT_EQ(commandsOf(slicesOf(many.data(), many.size())[0]).size(), 1u);
  // A command area larger than the file.
  auto big = MachOBuilder(true, kX86_64, 3).uuid(kUUID).lieAboutSize(0xfffffff0).lieAboutCount(3).build();
  ExactCopy bigCut(big, big.size());
  EXPECT_EQ(commandsOf(slicesOf(bigCut.bytes.get(), bigCut.size)[0]).size(), 1u);

  // A zero-sized command stops the walk; one reaching past the area is not handed out.
  telemetry::test::Bytes zero;
  zero.u32(0x1B), zero.u32(0);
  auto stalled = MachOBuilder(true, kX86_64, 3).uuid(kUUID).command(zero).uuid(kUUID).build();
  EXPECT_EQ(commandsOf(slicesOf(stalled.data(), stalled.size())[0]).size(), 1u);
  telemetry::test::Bytes huge;
  huge.u32(0x1B), huge.u32(4096);
  auto overlong = MachOBuilder(true, kX86_64, 3).command(huge).build(64);
  EXPECT_TRUE(commandsOf(slicesOf(overlong.data(), overlong.size())[0]).empty());

  // A UUID command too short for its UUID, a string whose offset lies outside its command.
  telemetry::test::Bytes shortUUID;
  shortUUID.u32(0x1B), shortUUID.u32(16), shortUUID.u64(0);
  telemetry::test::Bytes badString;
  badString.u32(0x0C), badString.u32(16), badString.u32(400), badString.u32(0);
  telemetry::test::Bytes unterminated;
  unterminated.u32(0x0C), unterminated.u32(16), unterminated.u32(12), unterminated.u32(0x41414141);
  auto odd = MachOBuilder(true, kX86_64, 3).command(shortUUID).command(badString).command(unterminated).build();
  auto cmds = commandsOf(slicesOf(odd.data(), odd.size())[0]);
  ASSERT_EQ(cmds.size(), 3u);
  EXPECT_EQ(TELMachOGetUUID(cmds[0].bytes.data()), nullptr);
  EXPECT_EQ(TELMachOLoadCommandString(cmds[1].bytes.data()), nullptr);
  EXPECT_EQ(TELMachOLoadCommandString(cmds[2].bytes.data()), nullptr);

  // A segment claiming more sections than its command holds.
  auto sections = MachOBuilder(true, kX86_64, 3).segment("__TEXT", 0, 0x1000, {{"__text", 0, 16, 0}}).build();
  sections[32 + 64] = 0xff;  // nsects
  ExactCopy cut(sections, sections.size());
  auto s = slicesOf(cut.bytes.get(), cut.size)[0];
  TELMachOSection section;
  EXPECT_TRUE(TELMachOGetSection(&s, "__TEXT", "__text", &section));
  EXPECT_FALSE(TELMachOGetSection(&s, "__TEXT", "__missing", &section));

  // A fat table claiming four billion slices, and one whose slice lies past the end.
  auto fat = fatImage({{{kX86_64, 3}, many}});
  auto lyingCount = fat;
  lyingCount[4] = lyingCount[5] = lyingCount[6] = lyingCount[7] = 0xff;
  EXPECT_EQ(slicesOf(lyingCount.data(), lyingCount.size()).size(), 1u);
  auto lyingOffset = fat;
  lyingOffset[16] = 0x7f;  // offset 0x7f000100
  EXPECT_TRUE(slicesOf(lyingOffset.data(), lyingOffset.size()).empty());
}

TEST(MachOReader, UnopenableFilesLeaveNoDescriptorOpen) {
  const auto real = [](const std::string& path) {
    char resolved[PATH_MAX];
    return std::string(realpath(path.c_str(), resolved) ? resolved : "");
  };
  const std::string shortFile = real(writeTemp("short.bin", std::vector<uint8_t>(15, 1)));
  const std::string exactFile = real(writeTemp("exact16.bin", std::vector<uint8_t>(16, 1)));
  const std::string folder = real(paths::temporaryDirectory());
  const std::vector<std::string> opened = {shortFile, exactFile, folder};
  const int probe = ::open(shortFile.c_str(), O_RDONLY);
  ASSERT_EQ(descriptorsOpenOn(opened), 1) << "the count sees a descriptor left open";
  ::close(probe);
  TELMachOFile file;
  EXPECT_FALSE(TELMachOOpenFile(&file, shortFile.c_str()));
  EXPECT_FALSE(TELMachOOpenFile(&file, folder.c_str()));
  EXPECT_FALSE(TELMachOOpenFile(&file, "/nonexistent/path/to/binary"));
  EXPECT_FALSE(TELMachOOpenFile(nullptr, "/bin/sh"));
  EXPECT_FALSE(TELMachOOpenFile(&file, nullptr));
  EXPECT_EQ(descriptorsOpenOn(opened), 0);
  EXPECT_EQ(file.descriptor, -1);
  EXPECT_EQ(file.mapping, nullptr);
  TELMachOCloseFile(nullptr);
  TELMachOCloseFile(&file);
  EXPECT_TRUE(TELMachOOpenFile(&file, exactFile.c_str()));
  TELMachOCloseFile(&file);
  EXPECT_EQ(descriptorsOpenOn(opened), 0);
}

TEST(MachOReader, UUIDTextIsLowercaseHexWithoutHyphens) {
  char text[33];
  TELMachOUUIDString(kUUID.data(), text);
  EXPECT_STREQ(text, "0123456789abcdeffedcba9876543210");
  TELMachOVersion v = TELMachOVersionFromWord(0x000A0B00);
  EXPECT_EQ(TELMachOFormatVersion(&v), "10.11.0");
}
