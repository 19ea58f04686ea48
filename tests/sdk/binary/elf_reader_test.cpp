#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "binary/mach_o_builder.h"
#include "support/required_tool.h"
#include "sdk/binary/executable_reader.h"

using namespace telemetry;

namespace {

std::string selfPath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

std::string run(const std::string& command) {
  std::string out;
  if (!testsupport::requireTool("readelf", "binutils")) return out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

struct ReadelfSection {
  uint64_t address, offset, size;
};

// What binutils says about the file, as the reference.
struct Readelf {
  std::string buildID;
  std::map<std::string, ReadelfSection> sections;
  explicit Readelf(const std::string& path) {
    std::smatch m;
    std::string notes = run("readelf -nW '" + path + "'");
    if (std::regex_search(notes, m, std::regex("Build ID: ([0-9a-f]+)"))) buildID = m[1];
    std::istringstream in(run("readelf -SW '" + path + "'"));
    std::regex row(R"(\[\s*\d+\]\s+(\S+)\s+\S+\s+([0-9a-f]+)\s+([0-9a-f]+)\s+([0-9a-f]+))");
    for (std::string line; std::getline(in, line);)
      if (std::regex_search(line, m, row))
        sections[m[1]] = {std::stoull(m[2], nullptr, 16), std::stoull(m[3], nullptr, 16), std::stoull(m[4], nullptr, 16)};
  }
};

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  std::vector<uint8_t> bytes(static_cast<size_t>(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  return bytes;
}

struct Walk {
  std::string uuid;
  TELMachOSegment text{};
  int commands = 0;
};

Walk walk(CRKMachOSlice slice) {
  Walk w;
  TELMachOEnumerateLoadCommands(&slice, [&](uint32_t cmd, uint32_t, const uint8_t* p) {
    ++w.commands;
    if (const uint8_t* u = TELMachOGetUUID(p)) w.uuid = TELMachOUUIDString(u);
    TELMachOSegment s = TELMachOGetSegment(p);
    if (cmd == kLoadCommandSegment64 && std::string(s.name) == "__TEXT") w.text = s;
  });
  return w;
}

CRKMachOSlice sliceOf(const telemetry::test::ExactCopy& copy) {
  CRKMachOSlice s;
  TELMachOEnumerateSlices(copy.bytes.get(), copy.size, [&](const CRKMachOSlice& x) { s = x; });
  return s;
}

}  // namespace

TEST(ElfReader, TestProgramMatchesWhatReadelfReports) {
  const std::string path = selfPath();
  Readelf ref(path);
  ASSERT_FALSE(ref.buildID.empty()) << "the test program is linked with a build-id";
  TELMachOFile file;
  ASSERT_TRUE(TELMachOOpenExecutable(&file));
  std::vector<CRKMachOSlice> slices;
  TELMachOEnumerateSlicesOfFile(&file, [&](const CRKMachOSlice& s) { slices.push_back(s); });
  ASSERT_EQ(slices.size(), 1u);
#if defined(__x86_64__)
  EXPECT_STREQ(TELMachOArchitectureName(&slices[0]), "x86_64");
#endif
  uint8_t id[64];
  size_t n = TELElfGetBuildID(&slices[0], id, sizeof id);
  EXPECT_EQ(hex(id, n), ref.buildID);
  Walk w = walk(slices[0]);
  EXPECT_EQ(w.uuid, ref.buildID.substr(0, 32));
  ASSERT_TRUE(ref.sections.count(".text") && ref.sections.count(".eh_frame") && ref.sections.count(".eh_frame_hdr"));
  const auto& text = ref.sections[".text"];
  EXPECT_LE(w.text.address, text.address);
  EXPECT_GE(w.text.address + w.text.size, text.address + text.size);

  for (auto [seg, sect, elfName] : {std::tuple{"__TEXT", "__eh_frame", ".eh_frame"},
                                    std::tuple{"__TEXT", "__unwind_info", ".eh_frame_hdr"},
                                    std::tuple{"__DATA", ".data", ".data"}}) {
    TELMachOSection s;
    ASSERT_TRUE(TELMachOGetSection(&slices[0], seg, sect, &s)) << sect;
    EXPECT_EQ(s.address, ref.sections[elfName].address) << sect;
    EXPECT_EQ(s.offset, ref.sections[elfName].offset) << sect;
    EXPECT_EQ(s.size, ref.sections[elfName].size) << sect;
  }
  const void* hdr = nullptr;
  ASSERT_TRUE(TELMachOSectionPointer(&slices[0], "__TEXT", "__unwind_info", &hdr));
  EXPECT_EQ(*static_cast<const uint8_t*>(hdr), 1);  // .eh_frame_hdr version
  TELMachOCloseFile(&file);
}

TEST(ElfReader, LoadedExecutableLocatesItsPathIdentityAndUnwindTables) {
  CRKMachOSlice loaded = TELMachOExecutableHeader();
  ASSERT_NE(loaded.header, nullptr);
  EXPECT_TRUE(loaded.loaded);
  EXPECT_EQ(TELMachOImagePathForSlice(&loaded), selfPath());
  CRKMachOSlice bogus = TELMachOSliceWithHeader(reinterpret_cast<const void*>(uintptr_t{0x10}));
  EXPECT_EQ(TELMachOImagePathForSlice(&bogus), std::nullopt);
  EXPECT_EQ(TELMachOImagePathForSlice(nullptr), std::nullopt);

  Readelf ref(selfPath());
  Walk inMemory = walk(TELMachOSliceWithHeader(loaded.header));
  EXPECT_EQ(inMemory.uuid, ref.buildID.substr(0, 32));

  uint64_t ehFrame = 0, unwindInfo = 0;
  ASSERT_TRUE(TELMachOGetUnwindSections(&loaded, &ehFrame, &unwindInfo));
  const uint64_t slide = reinterpret_cast<uintptr_t>(loaded.header) - inMemory.text.address;
  EXPECT_EQ(unwindInfo, ref.sections[".eh_frame_hdr"].address + slide);
  EXPECT_EQ(ehFrame, ref.sections[".eh_frame"].address + slide);
  uint64_t onlyOne = 0;
  EXPECT_TRUE(TELMachOGetUnwindSections(&loaded, nullptr, &onlyOne));
  EXPECT_EQ(onlyOne, unwindInfo);
}

TEST(ElfReader, TruncatedAndCorruptCopiesAreReadOnlyWithinTheirBytes) {
  const auto image = readAll(selfPath());
  ASSERT_GT(image.size(), 4096u);
  Elf64_Ehdr eh;
  std::memcpy(&eh, image.data(), sizeof eh);
  uint64_t notesEnd = eh.e_phoff + uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr);
  for (int i = 0; i < eh.e_phnum; ++i) {
    Elf64_Phdr ph;
    std::memcpy(&ph, image.data() + eh.e_phoff + i * sizeof ph, sizeof ph);
    if (ph.p_type == PT_NOTE) notesEnd = std::max<uint64_t>(notesEnd, ph.p_offset + ph.p_filesz);
  }
  const std::string fullUUID = walk(sliceOf(telemetry::test::ExactCopy(image, image.size()))).uuid;
  ASSERT_EQ(fullUUID.size(), 32u);

  for (size_t n : {size_t(16), size_t(63), size_t(64), size_t(65), size_t(eh.e_phoff + 8), size_t(notesEnd - 1),
                   size_t(notesEnd), image.size() / 2, image.size() - 1}) {
    telemetry::test::ExactCopy cut(image, n);
    CRKMachOSlice s = sliceOf(cut);
    Walk w = walk(s);
    if (n < sizeof(Elf64_Ehdr) || n < eh.e_phoff + uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr)) {
      EXPECT_EQ(w.commands, 0) << n;
    }
    if (n >= notesEnd) {
      EXPECT_EQ(w.uuid, fullUUID) << n;
    }
    TELMachOSection section;
    EXPECT_FALSE(TELMachOGetSection(&s, "__TEXT", "__eh_frame", &section)) << n;  // section table is at the end
  }

  // Header fields that point outside the file.
  auto corrupt = [&](auto change) {
    std::vector<uint8_t> copy(image.begin(), image.begin() + 8192);
    Elf64_Ehdr h;
    std::memcpy(&h, copy.data(), sizeof h);
    change(h, copy);
    std::memcpy(copy.data(), &h, sizeof h);
    telemetry::test::ExactCopy exact(copy, copy.size());
    CRKMachOSlice s = sliceOf(exact);
    TELMachOSection section;
    uint8_t id[20];
    Walk w = walk(s);
    TELMachOGetSection(&s, "__TEXT", "__eh_frame", &section);
    TELElfGetBuildID(&s, id, sizeof id);
    return w.commands;
  };
  EXPECT_EQ(corrupt([](Elf64_Ehdr& h, auto&) { h.e_phoff = ~0ull - 8; }), 0);
  EXPECT_EQ(corrupt([](Elf64_Ehdr& h, auto&) { h.e_phnum = 0xffff; }), 0);
  EXPECT_EQ(corrupt([](Elf64_Ehdr& h, auto&) { h.e_phentsize = 12; }), 0);
  corrupt([](Elf64_Ehdr& h, auto&) { h.e_shoff = 4096, h.e_shnum = 200, h.e_shstrndx = 150; });
  corrupt([](Elf64_Ehdr& h, auto&) { h.e_shstrndx = 60000; });
  // Every note's sizes made huge.
  corrupt([&](Elf64_Ehdr& h, std::vector<uint8_t>& copy) {
    for (int i = 0; i < h.e_phnum; ++i) {
      Elf64_Phdr ph;
      std::memcpy(&ph, copy.data() + h.e_phoff + i * sizeof ph, sizeof ph);
      if (ph.p_type == PT_NOTE && ph.p_offset + 8 < copy.size()) std::memset(copy.data() + ph.p_offset, 0xff, 8);
    }
  });
}
