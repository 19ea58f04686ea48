#pragma once
// Builds small Mach-O images byte by byte for the reader's tests.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace telemetry::test {

class Bytes {
 public:
  std::vector<uint8_t> data;
  void u32(uint32_t v) { append(&v, 4); }
  void u64(uint64_t v) { append(&v, 8); }
  void be32(uint32_t v) {
    uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    append(b, 4);
  }
  void name16(const std::string& s) {
    char b[16] = {};
    std::memcpy(b, s.data(), std::min<size_t>(16, s.size()));
    append(b, 16);
  }
  void append(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    data.insert(data.end(), b, b + n);
  }
  void pad(size_t to) {
    if (data.size() < to) data.resize(to, 0);
  }
};

struct SectionSpec {
  std::string name;
  uint64_t address;
  uint64_t size;
  uint32_t offset;
};

class MachOBuilder {
 public:
  MachOBuilder(bool is64, int32_t cputype, int32_t cpusubtype) : mIs64(is64), mCPU(cputype), mSub(cpusubtype) {}

  MachOBuilder& uuid(const std::array<uint8_t, 16>& bytes) {
    Bytes c;
    c.u32(0x1B);
    c.u32(24);
    c.append(bytes.data(), 16);
    return command(c);
  }
  MachOBuilder& versionMin(uint32_t kind, uint32_t version, uint32_t sdk) {
    Bytes c;
    c.u32(kind);
    c.u32(16);
    c.u32(version);
    c.u32(sdk);
    return command(c);
  }
  MachOBuilder& segment(const std::string& name, uint64_t address, uint64_t size,
                        const std::vector<SectionSpec>& sections = {}) {
    Bytes c;
    const uint32_t headerSize = mIs64 ? 72 : 56, entrySize = mIs64 ? 80 : 68;
    c.u32(mIs64 ? 0x19 : 0x01);
    c.u32(headerSize + entrySize * static_cast<uint32_t>(sections.size()));
    c.name16(name);
    if (mIs64) {
      c.u64(address), c.u64(size), c.u64(0), c.u64(size);
    } else {
      c.u32(uint32_t(address)), c.u32(uint32_t(size)), c.u32(0), c.u32(uint32_t(size));
    }
    c.u32(5), c.u32(5), c.u32(static_cast<uint32_t>(sections.size())), c.u32(0);
    for (const auto& s : sections) {
      c.name16(s.name);
      c.name16(name);
      if (mIs64)
        c.u64(s.address), c.u64(s.size);
      else
        c.u32(uint32_t(s.address)), c.u32(uint32_t(s.size));
      c.u32(s.offset);
      for (int i = 0; i < (mIs64 ? 7 : 6); ++i) c.u32(0);
    }
    return command(c);
  }
  MachOBuilder& encryption(uint32_t cryptid) {
    Bytes c;
    c.u32(mIs64 ? 0x2C : 0x21);
    c.u32(mIs64 ? 24 : 20);
    c.u32(0x4000), c.u32(0x1000), c.u32(cryptid);
    if (mIs64) c.u32(0);
    return command(c);
  }
  MachOBuilder& dylib(const std::string& path) {
    Bytes c;
    c.u32(0x0C);
    uint32_t size = static_cast<uint32_t>((24 + path.size() + 1 + 7) & ~size_t(7));
    c.u32(size);
    c.u32(24), c.u32(2), c.u32(0x10000), c.u32(0x10000);
    c.append(path.c_str(), path.size() + 1);
    c.pad(size);
    return command(c);
  }
  MachOBuilder& command(const Bytes& c) {
    mCommands.push_back(c.data);
    return *this;
  }
  // Overrides of the header's counts, for lying images.
  MachOBuilder& lieAboutCount(uint32_t n) { mCountOverride = n; return *this; }
  MachOBuilder& lieAboutSize(uint32_t n) { mSizeOverride = n; return *this; }

  std::vector<uint8_t> build(size_t padTo = 0) const {
    Bytes b;
    uint32_t total = 0;
    for (const auto& c : mCommands) total += static_cast<uint32_t>(c.size());
    b.u32(mIs64 ? 0xFEEDFACF : 0xFEEDFACE);
    b.u32(static_cast<uint32_t>(mCPU));
    b.u32(static_cast<uint32_t>(mSub));
    b.u32(2);  // executable
    b.u32(mCountOverride ? mCountOverride : static_cast<uint32_t>(mCommands.size()));
    b.u32(mSizeOverride ? mSizeOverride : total);
    b.u32(0);
    if (mIs64) b.u32(0);
    for (const auto& c : mCommands) b.append(c.data(), c.size());
    b.pad(padTo);
    return b.data;
  }

 private:
  bool mIs64;
  int32_t mCPU, mSub;
  uint32_t mCountOverride = 0, mSizeOverride = 0;
  std::vector<std::vector<uint8_t>> mCommands;
};

// A fat file of the given slices, each aligned to 256 bytes.
inline std::vector<uint8_t> fatImage(const std::vector<std::pair<std::pair<int32_t, int32_t>, std::vector<uint8_t>>>& slices) {
  Bytes b;
  b.be32(0xCAFEBABE);
  b.be32(static_cast<uint32_t>(slices.size()));
  uint32_t offset = 256;
  for (const auto& [cpu, bytes] : slices) {
    b.be32(static_cast<uint32_t>(cpu.first));
    b.be32(static_cast<uint32_t>(cpu.second));
    b.be32(offset);
    b.be32(static_cast<uint32_t>(bytes.size()));
    b.be32(8);
    offset += (static_cast<uint32_t>(bytes.size()) + 255) & ~255u;
  }
  offset = 256;
  for (const auto& [cpu, bytes] : slices) {
    b.pad(offset);
    b.append(bytes.data(), bytes.size());
    offset += (static_cast<uint32_t>(bytes.size()) + 255) & ~255u;
  }
  return b.data;
}

// A copy in a heap block of exactly `n` bytes, so that any read past it is caught by the
// address sanitizer (a file mapping would hide reads up to its page's end).
struct ExactCopy {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  ExactCopy(const std::vector<uint8_t>& from, size_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
    std::memcpy(bytes.get(), from.data(), n);
  }
};

}  // namespace telemetry::test
