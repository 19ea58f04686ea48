#include <gtest/gtest.h>

#include <elf.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <algorithm>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "binary/mach_o_builder.h"
#include "support/required_tool.h"
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/mach_o_reader.h"

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

// What the reader says of one image.
struct Facts {
  std::string buildID;
  std::optional<TELElfSegment> firstExecutable;
  int segments = 0;
};

Facts factsOf(const TELElfImage& image) {
  Facts f;
  uint8_t id[64];
  f.buildID = hex(id, TELElfGetBuildID(&image, id, sizeof id));
  TELElfEnumerateSegments(&image, [&](const TELElfSegment& segment) {
    ++f.segments;
    if (segment.executable && !f.firstExecutable) f.firstExecutable = segment;
  });
  return f;
}

TELElfImage imageOf(const telemetry::test::ExactCopy& copy) { return TELElfImageInMemory(copy.bytes.get(), copy.size); }

}  // namespace

TEST(ElfReader, TestProgramMatchesWhatReadelfReports) {
  const std::string path = selfPath();
  Readelf ref(path);
  ASSERT_FALSE(ref.buildID.empty()) << "the test program is linked with a build-id";
  ExecutableFile file;
  ASSERT_TRUE(openRunningExecutable(&file));
  EXPECT_EQ(executableFormatOf(file.mapping, uint64_t(file.size)), ExecutableFormat::ELF);
  TELElfImage image = TELElfImageOfFile(&file);
  ASSERT_NE(image.header, nullptr);
#if defined(__x86_64__)
  EXPECT_STREQ(TELElfArchitectureName(&image), "x86_64");
#endif
  Facts facts = factsOf(image);
  EXPECT_EQ(facts.buildID, ref.buildID);
  ASSERT_TRUE(ref.sections.count(".text") && ref.sections.count(".eh_frame") && ref.sections.count(".eh_frame_hdr"));
  const auto& text = ref.sections[".text"];
  ASSERT_TRUE(facts.firstExecutable);
  EXPECT_LE(facts.firstExecutable->address, text.address);
  EXPECT_GE(facts.firstExecutable->address + facts.firstExecutable->memorySize, text.address + text.size);

  for (const char* name : {".eh_frame", ".eh_frame_hdr", ".data"}) {
    TELElfSection s;
    ASSERT_TRUE(TELElfGetSection(&image, name, &s)) << name;
    EXPECT_EQ(s.address, ref.sections[name].address) << name;
    EXPECT_EQ(s.offset, ref.sections[name].offset) << name;
    EXPECT_EQ(s.size, ref.sections[name].size) << name;
  }
  const void* hdr = nullptr;
  ASSERT_TRUE(TELElfSectionPointer(&image, ".eh_frame_hdr", &hdr));
  EXPECT_EQ(*static_cast<const uint8_t*>(hdr), 1);  // .eh_frame_hdr version

  // Through the format-neutral interface: one image, its build-id as the UUID.
  int images = 0;
  enumerateExecutableImages(file, [&](const ExecutableImageFacts& facts) {
    ++images;
    ASSERT_TRUE(facts.uuid);
    EXPECT_EQ(hex(facts.uuid->data(), 16), ref.buildID.substr(0, 32));
    EXPECT_FALSE(facts.builtSDK);
  });
  EXPECT_EQ(images, 1);
  // To the Mach-O reader it is a foreign file: no CPU, no load commands.
  int slices = 0, commands = 0;
  TELMachOEnumerateSlicesOfFile(&file, [&](const CRKMachOSlice& found) {
    ++slices;
    CRKMachOSlice slice = found;
    EXPECT_EQ(slice.cputype, 0);
    TELMachOEnumerateLoadCommands(&slice, [&](uint32_t, uint32_t, const uint8_t*) { ++commands; });
  });
  EXPECT_EQ(slices, 1);
  EXPECT_EQ(commands, 0);
  closeExecutableFile(&file);
}

TEST(ElfReader, LoadedExecutableLocatesItsPathIdentityAndUnwindTables) {
  TELElfImage loaded = TELElfExecutableImage();
  ASSERT_NE(loaded.header, nullptr);
  EXPECT_TRUE(loaded.loaded);
  EXPECT_EQ(TELElfImagePathForImage(&loaded), selfPath());
  TELElfImage bogus = TELElfImageWithHeader(reinterpret_cast<const void*>(uintptr_t{0x10}));
  EXPECT_EQ(TELElfImagePathForImage(&bogus), std::nullopt);
  EXPECT_EQ(TELElfImagePathForImage(nullptr), std::nullopt);

  Readelf ref(selfPath());
  Facts inMemory = factsOf(TELElfImageWithHeader(loaded.header));
  EXPECT_EQ(inMemory.buildID, ref.buildID);
  TELElfSection section;
  EXPECT_FALSE(TELElfGetSection(&loaded, ".eh_frame", &section));  // no section table in memory

  uint64_t ehFrame = 0, ehFrameHeader = 0;
  ASSERT_TRUE(TELElfGetUnwindSections(&loaded, &ehFrame, &ehFrameHeader));
  uint64_t imageAddress = UINT64_MAX;
  TELElfEnumerateSegments(&loaded, [&](const TELElfSegment& s) {
    imageAddress = std::min(imageAddress, s.address - s.fileOffset);
  });
  const uint64_t slide = reinterpret_cast<uintptr_t>(loaded.header) - imageAddress;
  EXPECT_EQ(ehFrameHeader, ref.sections[".eh_frame_hdr"].address + slide);
  EXPECT_EQ(ehFrame, ref.sections[".eh_frame"].address + slide);
  uint64_t onlyOne = 0;
  EXPECT_TRUE(TELElfGetUnwindSections(&loaded, nullptr, &onlyOne));
  EXPECT_EQ(onlyOne, ehFrameHeader);
  // A file image is not a loaded one.
  const auto bytes = readAll(selfPath());
  TELElfImage file = TELElfImageInMemory(bytes.data(), bytes.size());
  EXPECT_FALSE(TELElfGetUnwindSections(&file, &ehFrame, &ehFrameHeader));
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
  const std::string fullID = factsOf(imageOf(telemetry::test::ExactCopy(image, image.size()))).buildID;
  ASSERT_GE(fullID.size(), 32u);

  for (size_t n : {size_t(16), size_t(63), size_t(64), size_t(65), size_t(eh.e_phoff + 8), size_t(notesEnd - 1),
                   size_t(notesEnd), image.size() / 2, image.size() - 1}) {
    telemetry::test::ExactCopy cut(image, n);
    TELElfImage s = imageOf(cut);
    Facts f = factsOf(s);
    if (n < sizeof(Elf64_Ehdr) || n < eh.e_phoff + uint64_t{eh.e_phnum} * sizeof(Elf64_Phdr)) {
      EXPECT_EQ(f.segments, 0) << n;
      EXPECT_EQ(f.buildID, "") << n;
    }
    if (n >= notesEnd) {
      EXPECT_EQ(f.buildID, fullID) << n;
    }
    TELElfSection section;
    EXPECT_FALSE(TELElfGetSection(&s, ".eh_frame", &section)) << n;  // section table is at the end
  }

  // Header fields that point outside the file.
  auto corrupt = [&](auto change) {
    std::vector<uint8_t> copy(image.begin(), image.begin() + 8192);
    Elf64_Ehdr h;
    std::memcpy(&h, copy.data(), sizeof h);
    change(h, copy);
    std::memcpy(copy.data(), &h, sizeof h);
    telemetry::test::ExactCopy exact(copy, copy.size());
    TELElfImage s = imageOf(exact);
    TELElfSection section;
    TELElfGetSection(&s, ".eh_frame", &section);
    TELElfGetMinimumLinuxVersion(&s);
    return factsOf(s).segments;
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
