#pragma once
// Turns the raw return addresses of an earlier run's crash files into names, inside the
// relaunched process: an address is resolved only when its image is loaded again with the
// same build-id. The names go into a "<crash file>.symbolicated" record beside each crash
// file; the raw addresses stay in the report either way.
//
// The loader names exported symbols only, so each image's own ".symtab" (read once per
// image from its file) is consulted as well and the nearer symbol wins.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash/crk_stack_frame.h"

namespace telemetry {

class CRKInternalReport;

// One entry per thread, each its frames in stack order (innermost first).
using CRKThreadArray = std::vector<std::vector<CRKStackFrame>>;

class CRKSymbolResolver {
 public:
  CRKSymbolResolver();
  ~CRKSymbolResolver();

  // The report's "load" records (base and size present), sorted by base. False for an empty
  // path or a file without records; true even when no record qualified.
  bool loadBinaryImagesFromFile(const std::string& path);
  const std::vector<nlohmann::json>& binaryImages() const { return mImages; }
  // The first record (in base order) whose range holds the address.
  const nlohmann::json* loadedBinaryImageForPC(uint64_t address) const;
  // Fills the frame's names, offset and library. The address of a thread's first frame is
  // where it stopped, not a return address, so it is never stepped back into the previous
  // function (`exactAddress`).
  bool updateStackFrame(CRKStackFrame* frame, bool exactAddress = false);
  std::optional<CRKStackFrame> frameForAddress(uint64_t address, bool exactAddress = false);

 private:
  struct Symbol {
    uint64_t start;
    uint64_t size;
    std::string name;
  };
  struct LocalImage {
    bool found = false;
    uint64_t base = 0;   // load address in this process
    uint64_t slide = 0;
    std::vector<Symbol> symbols;  // from the file's ".symtab", sorted by start
  };
  const LocalImage& localImage(const std::string& uuid);
  // The symbol holding the local address: name and start (slid).
  std::optional<std::pair<std::string, uint64_t>> symbolFor(const LocalImage& image, uint64_t localAddress) const;

  std::vector<nlohmann::json> mImages;
  std::map<std::string, LocalImage> mLocalImages;
};

class CRKThreadArrayOperation {
 public:
  explicit CRKThreadArrayOperation(CRKThreadArray* threadArray) : mThreadArray(threadArray) {}
  virtual ~CRKThreadArrayOperation() = default;
  virtual void main() = 0;
  void cancel() { mCancelled = true; }
  bool isCancelled() const { return mCancelled; }
  // Every frame, thread by thread; a cancellation ends the current thread's frames.
  void enumerateFramesWithBlock(const std::function<void(CRKStackFrame& frame, size_t index)>& block);
  CRKThreadArray* threadArray() const { return mThreadArray; }

 private:
  CRKThreadArray* mThreadArray;
  std::atomic<bool> mCancelled{false};
};

class CRKSymbolicationOperation : public CRKThreadArrayOperation {
 public:
  CRKSymbolicationOperation(CRKThreadArray* threadArray, CRKSymbolResolver* resolver)
      : CRKThreadArrayOperation(threadArray), mResolver(resolver) {}
  void main() override;

 private:
  CRKSymbolResolver* mResolver;
};

class CRKDemangleOperation : public CRKThreadArrayOperation {
 public:
  using CRKThreadArrayOperation::CRKThreadArrayOperation;
  void main() override;

  static std::optional<std::string> demangleSymbol(const char* symbol);
  static std::optional<std::string> demangleCppSymbol(const char* symbol);
  static std::optional<std::string> demangleBlockInvokeCppSymbol(const char* symbol);
  // No Swift demangler ships on this platform: Swift names stay raw.
  static std::optional<std::string> demangleSwiftSymbol(const char* symbol);
};

class CRKSerializeSymbolicatedFramesOperation : public CRKThreadArrayOperation {
 public:
  CRKSerializeSymbolicatedFramesOperation(CRKThreadArray* threadArray, std::string outputPath)
      : CRKThreadArrayOperation(threadArray), mOutputPath(std::move(outputPath)) {}
  void main() override;
  // False when the output could not be written whole.
  bool succeeded() const { return mSucceeded; }

 private:
  std::string mOutputPath;
  bool mSucceeded = false;
};

class CRKProcessReportOperation {
 public:
  CRKProcessReportOperation(std::shared_ptr<CRKInternalReport> report, std::shared_ptr<CRKSymbolResolver> resolver)
      : mReport(std::move(report)), mResolver(std::move(resolver)) {}
  void main();

  static std::optional<CRKThreadArray> threadArrayFromFile(const std::string& path);
  static bool symbolicateFile(const std::string& path, CRKSymbolResolver* resolver);

 private:
  std::shared_ptr<CRKInternalReport> mReport;
  std::shared_ptr<CRKSymbolResolver> mResolver;
};

}  // namespace telemetry
