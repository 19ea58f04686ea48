#include "crash/crk_symbolication.h"

#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crash/crk_binary_image.h"
#include "crash/crk_file.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_user_logging.h"
#include "sdk/binary/elf_reader.h"
#include "sdk/binary/executable_reader.h"
#include "sdk/core/file_io.h"

namespace telemetry {

namespace {

std::optional<uint64_t> unsignedOf(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_number_unsigned()) return std::nullopt;
  return found->get<uint64_t>();
}

std::optional<std::string> stringOf(const nlohmann::json& object, const char* key) {
  auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// The function symbols of an image file's ".symtab", sorted by address (not slid).
template <typename Sym>
void collectSymbols(const uint8_t* base, uint64_t fileSize, const TELElfSection& table, const TELElfSection& strings,
                    std::vector<std::pair<uint64_t, std::pair<uint64_t, std::string>>>* out) {
  if (table.offset > fileSize || table.size > fileSize - table.offset) return;
  if (strings.offset > fileSize || strings.size > fileSize - strings.offset) return;
  const size_t count = table.size / sizeof(Sym);
  const char* names = reinterpret_cast<const char*>(base + strings.offset);
  for (size_t i = 0; i < count; ++i) {
    Sym symbol;
    std::memcpy(&symbol, base + table.offset + i * sizeof(Sym), sizeof(Sym));
    const unsigned type = symbol.st_info & 0xf;
    if ((type != STT_FUNC && type != STT_GNU_IFUNC) || symbol.st_value == 0 || symbol.st_shndx == SHN_UNDEF) continue;
    if (symbol.st_name >= strings.size) continue;
    const char* name = names + symbol.st_name;
    size_t length = strnlen(name, strings.size - symbol.st_name);
    if (length == 0 || length == strings.size - symbol.st_name) continue;
    out->push_back({symbol.st_value, {symbol.st_size, std::string(name, length)}});
  }
}

}  // namespace

CRKStackFrame CRKStackFrame::stackFrameWithAddress(uint64_t address) {
  CRKStackFrame frame;
  frame.address = address;
  return frame;
}

CRKStackFrame CRKStackFrame::stackFrameWithSymbol(const std::string& symbol) {
  CRKStackFrame frame;
  frame.symbol = symbol;
  frame.rawSymbol = symbol;
  return frame;
}

std::string CRKStackFrame::description() const {
  char head[64];
  std::string text;
  if (fileName) {
    std::snprintf(head, sizeof head, "{[0x%" PRIx64 "] ", address);
    text = std::string(head) + *fileName + " - " + symbol.value_or("(null)") + ":" + std::to_string(lineNumber) + "}";
  } else {
    std::snprintf(head, sizeof head, "{[0x%" PRIx64 " + %u] ", address, lineNumber);
    text = std::string(head) + symbol.value_or("(null)") + "}";
  }
  return text;
}

CRKSymbolResolver::CRKSymbolResolver() = default;
CRKSymbolResolver::~CRKSymbolResolver() = default;

bool CRKSymbolResolver::loadBinaryImagesFromFile(const std::string& path) {
  if (path.empty()) return false;
  auto sections = CRKFileReadSections(path.c_str(), false);
  if (!sections || sections->empty()) {
    CRKLogToConsole("[CrashKit:Crash:SymbolResolver] failed to read binary image file %s", path.c_str());
    return false;
  }
  for (const auto& section : *sections) {
    if (!section.is_object()) continue;
    auto load = section.find("load");
    if (load == section.end() || !load->is_object()) continue;
    if (!unsignedOf(*load, "base") || !unsignedOf(*load, "size")) continue;
    mImages.push_back(*load);
  }
  std::stable_sort(mImages.begin(), mImages.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
    return a["base"].get<uint64_t>() < b["base"].get<uint64_t>();
  });
  return true;
}

const nlohmann::json* CRKSymbolResolver::loadedBinaryImageForPC(uint64_t address) const {
  for (const auto& image : mImages) {
    const uint64_t base = image["base"].get<uint64_t>();
    const uint64_t size = image["size"].get<uint64_t>();
    if (address >= base && address - base < size) return &image;
  }
  return nullptr;
}

const CRKSymbolResolver::LocalImage& CRKSymbolResolver::localImage(const std::string& uuid) {
  auto [entry, inserted] = mLocalImages.try_emplace(uuid);
  LocalImage& image = entry->second;
  if (!inserted) return image;
  CRKBinaryImageDetails details;
  if (uuid.empty() || !CRKBinaryImageFindImageForUUID(uuid.c_str(), &details)) return image;
  image.found = true;
  image.base = details.node.base;
  image.slide = details.node.slide;
  TELElfImage loaded = TELElfImageWithHeader(reinterpret_cast<const void*>(details.node.base));
  auto path = TELElfImagePathForImage(&loaded);
  ExecutableFile file;
  if (!path || !openExecutableFile(&file, path->c_str())) return image;
  TELElfImage onDisk = TELElfImageOfFile(&file);
  TELElfSection table, strings;
  std::vector<std::pair<uint64_t, std::pair<uint64_t, std::string>>> found;
  if (onDisk.header && TELElfGetSection(&onDisk, ".symtab", &table) && TELElfGetSection(&onDisk, ".strtab", &strings)) {
    const auto* bytes = static_cast<const uint8_t*>(file.mapping);
    const uint64_t size = static_cast<uint64_t>(file.size);
    if (size > EI_CLASS && bytes[EI_CLASS] == ELFCLASS64)
      collectSymbols<Elf64_Sym>(bytes, size, table, strings, &found);
    else
      collectSymbols<Elf32_Sym>(bytes, size, table, strings, &found);
  }
  closeExecutableFile(&file);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  image.symbols.reserve(found.size());
  for (auto& [start, rest] : found) image.symbols.push_back({start, rest.first, std::move(rest.second)});
  return image;
}

std::optional<std::pair<std::string, uint64_t>> CRKSymbolResolver::symbolFor(const LocalImage& image,
                                                                               uint64_t localAddress) const {
  std::optional<std::pair<std::string, uint64_t>> best;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(localAddress), &info) != 0 && info.dli_sname && info.dli_saddr)
    best = {info.dli_sname, reinterpret_cast<uint64_t>(info.dli_saddr)};
  if (localAddress >= image.slide) {
    const uint64_t fileAddress = localAddress - image.slide;
    auto after = std::upper_bound(image.symbols.begin(), image.symbols.end(), fileAddress,
                                  [](uint64_t value, const Symbol& symbol) { return value < symbol.start; });
    if (after != image.symbols.begin()) {
      const Symbol& candidate = *std::prev(after);
      const uint64_t start = candidate.start + image.slide;
      const bool inside = candidate.size == 0 || fileAddress - candidate.start < candidate.size;
      if (inside && (!best || start > best->second)) best = {candidate.name, start};
    }
  }
  return best;
}

bool CRKSymbolResolver::updateStackFrame(CRKStackFrame* frame, bool exactAddress) {
  if (!frame || frame->address == 0) return false;
  const nlohmann::json* record = loadedBinaryImageForPC(frame->address);
  if (!record) return false;
  const LocalImage& image = localImage(stringOf(*record, "uuid").value_or(""));
  if (!image.found) return false;
  const uint64_t local = image.base + (frame->address - (*record)["base"].get<uint64_t>());
  // A return address follows its call: after a call that does not return it lies past the
  // caller's end, in padding or at the next function's first byte, so the byte before it
  // is looked up.
  auto symbol = symbolFor(image, exactAddress || local == 0 ? local : local - 1);
  if (symbol) {
    frame->symbol = symbol->first;
    frame->rawSymbol = symbol->first;
    if (local > symbol->second) frame->offset = local - symbol->second;
  }
  if (auto path = stringOf(*record, "path")) frame->library = fileio::lastPathComponent(*path);
  return true;
}

std::optional<CRKStackFrame> CRKSymbolResolver::frameForAddress(uint64_t address, bool exactAddress) {
  CRKStackFrame frame = CRKStackFrame::stackFrameWithAddress(address);
  if (!updateStackFrame(&frame, exactAddress)) return std::nullopt;
  return frame;
}

void CRKThreadArrayOperation::enumerateFramesWithBlock(
    const std::function<void(CRKStackFrame& frame, size_t index)>& block) {
  for (auto& thread : *mThreadArray) {
    for (size_t i = 0; i < thread.size(); ++i) {
      block(thread[i], i);
      if (isCancelled()) break;
    }
  }
}

void CRKSymbolicationOperation::main() {
  enumerateFramesWithBlock([this](CRKStackFrame& frame, size_t index) { mResolver->updateStackFrame(&frame, index == 0); });
}

void CRKDemangleOperation::main() {
  enumerateFramesWithBlock([](CRKStackFrame& frame, size_t) {
    if (!frame.rawSymbol) return;
    if (auto demangled = demangleSymbol(frame.rawSymbol->c_str())) frame.symbol = std::move(demangled);
  });
}

std::optional<std::string> CRKDemangleOperation::demangleSymbol(const char* symbol) {
  if (!symbol) return std::nullopt;
  if (std::strncmp(symbol, "_Z", 2) == 0) return demangleCppSymbol(symbol);
  if (std::strncmp(symbol, "__Z", 3) == 0) return demangleBlockInvokeCppSymbol(symbol);
  if (std::strncmp(symbol, "_T", 2) == 0) return demangleSwiftSymbol(symbol);
  return std::nullopt;
}

std::optional<std::string> CRKDemangleOperation::demangleCppSymbol(const char* symbol) {
  if (!symbol) return std::nullopt;
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  if (!demangled || status != 0) {
    std::free(demangled);
    return std::nullopt;
  }
  std::string result(demangled);
  std::free(demangled);
  return result;
}

std::optional<std::string> CRKDemangleOperation::demangleBlockInvokeCppSymbol(const char* symbol) {
  if (!symbol) return std::nullopt;
  const std::string text(symbol);
  const auto marker = text.rfind("_block_invoke");
  if (marker == std::string::npos || marker < 5) return std::nullopt;
  auto inner = demangleCppSymbol(text.substr(1, marker - 1).c_str());
  if (!inner) return std::nullopt;
  return *inner + text.substr(marker);
}

std::optional<std::string> CRKDemangleOperation::demangleSwiftSymbol(const char*) { return std::nullopt; }

void CRKSerializeSymbolicatedFramesOperation::main() {
  CRKFile file;
  if (!CRKFileInitWithPathMode(&file, mOutputPath.c_str(), /*append=*/false, /*bufferEnabled=*/true)) {
    CRKLogToConsole("[CrashKit:Crash:Symbolication] Failed to create output file");
    return;
  }
  CRKFileWriteSectionStart(&file, "threads");
  CRKFileWriteArrayStart(&file);
  for (const auto& thread : *threadArray()) {
    CRKFileWriteArrayStart(&file);
    for (const auto& frame : thread) {
      CRKFileWriteHashStart(&file);
      CRKFileWriteHashEntryNSString(&file, "symbol", frame.symbol);
      if (frame.rawSymbol != frame.symbol || !frame.rawSymbol)
        CRKFileWriteHashEntryNSString(&file, "raw_symbol", frame.rawSymbol);
      CRKFileWriteHashEntryUint64(&file, "offset", frame.offset);
      CRKFileWriteHashEntryNSString(&file, "library", frame.library);
      CRKFileWriteHashEnd(&file);
    }
    CRKFileWriteArrayEnd(&file);
  }
  CRKFileWriteArrayEnd(&file);
  CRKFileWriteSectionEnd(&file);
  mSucceeded = CRKFileClose(&file);
}

std::optional<CRKThreadArray> CRKProcessReportOperation::threadArrayFromFile(const std::string& path) {
  auto sections = CRKFileReadSections(path.c_str(), false);
  if (!sections) return std::nullopt;
  for (const auto& section : *sections) {
    if (!section.is_object()) continue;
    auto threads = section.find("threads");
    if (threads == section.end()) continue;
    if (!threads->is_array()) return std::nullopt;
    CRKThreadArray result;
    for (const auto& thread : *threads) {
      std::vector<CRKStackFrame> frames;
      if (thread.is_object()) {
        auto trace = thread.find("stacktrace");
        if (trace != thread.end() && trace->is_array())
          for (const auto& address : *trace)
            frames.push_back(CRKStackFrame::stackFrameWithAddress(address.is_number_unsigned() ? address.get<uint64_t>() : 0));
      }
      result.push_back(std::move(frames));
    }
    return result;
  }
  return std::nullopt;
}

bool CRKProcessReportOperation::symbolicateFile(const std::string& path, CRKSymbolResolver* resolver) {
  auto threads = threadArrayFromFile(path);
  if (!threads) return false;
  CRKSymbolicationOperation(&*threads, resolver).main();
  CRKDemangleOperation(&*threads).main();
  CRKSerializeSymbolicatedFramesOperation(&*threads, path + ".symbolicated").main();
  return true;
}

void CRKProcessReportOperation::main() {
  if (!mReport || !mResolver) return;
  if (!mResolver->loadBinaryImagesFromFile(mReport->binaryImagePath())) return;
  mReport->enumerateSymbolicatableFilesInContent(
      [this](const std::string& path) { symbolicateFile(path, mResolver.get()); });
}

}  // namespace telemetry
