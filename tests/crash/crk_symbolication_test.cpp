// Symbolication of crash files: addresses recorded by "another run" (the test's own images at
// a different recorded base) resolve to the names of this process, through the loader and
// through the image's own symbol table; demangling; the output file's shape.
#include <dlfcn.h>
#include <link.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "crash/crk_binary_image.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_internal_report.h"
#include "crash/crk_symbolication.h"
#include "crash_test_support.h"

extern "C" __attribute__((noinline, used)) int crk_symbolication_exported(int value) {
  asm volatile("" ::: "memory");
  return value * 3 + 1;
}

namespace crksym {
__attribute__((noinline, used)) int scaled(int value, double factor) {
  asm volatile("" ::: "memory");
  return static_cast<int>(value * factor) + 2;
}
}  // namespace crksym

namespace {

using namespace telemetry;

// Local linkage: the loader cannot name it, only the image's symbol table.
__attribute__((noinline, used)) int hiddenHelper(int value) {
  asm volatile("" ::: "memory");
  return value ^ 0x5a;
}

constexpr uint64_t kRecordedBase = 0x7f0000000000ull;

struct Image {
  CRKBinaryImageDetails details;
  uint64_t header = 0;
};

Image ownImage() {
  Dl_info info{};
  EXPECT_NE(dladdr(reinterpret_cast<void*>(&crk_symbolication_exported), &info), 0);
  Image image;
  image.header = reinterpret_cast<uint64_t>(info.dli_fbase);
  EXPECT_TRUE(CRKBinaryImageFillDetails(info.dli_fbase, image.header, "/opt/app/bin/orrery-test", &image.details));
  return image;
}

// Where the recorded run had `function`, with its image at kRecordedBase.
uint64_t recorded(const Image& image, const void* function, uint64_t delta = 0) {
  return kRecordedBase + (reinterpret_cast<uint64_t>(function) - image.header) + delta;
}

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string loadLine(const Image& image, uint64_t base, const char* uuid) {
  return std::string(R"({"load":{"path":"/opt/app/bin/orrery-test","uuid":")") + uuid + R"(","base":)" +
         std::to_string(base) + R"(,"size":)" + std::to_string(image.details.node.textSize + 0x100000) + "}}\n";
}

TEST(CrashSymbolication, RecordedAddressesResolveThroughLoaderAndSymbolTable) {
  Image image = ownImage();
  std::string folder = crashtest::makeFolder("crash-symbolication");
  writeFile(folder + "/binary_images.crkrecord",
            R"({"unload":{"uuid":"00","base":1,"size":2}})" "\n" R"({"load":{"base":null,"size":5}})" "\n" +
                loadLine(image, kRecordedBase, image.details.uuid) +
                loadLine(image, 0x1000, "ffffffffffffffffffffffffffffffff"));
  const uint64_t exported = recorded(image, reinterpret_cast<void*>(&crk_symbolication_exported), 4);
  const uint64_t cpp = recorded(image, reinterpret_cast<void*>(&crksym::scaled), 3);
  const uint64_t hidden = recorded(image, reinterpret_cast<void*>(&hiddenHelper), 1);
  const uint64_t start = recorded(image, reinterpret_cast<void*>(&crksym::scaled));
  writeFile(folder + "/signal.crkrecord",
            R"({"signal":{"number":11}})" "\n" R"({"threads":[{"crashed":true,"stacktrace":[)" + std::to_string(start) +
                "," + std::to_string(exported) + "," + std::to_string(cpp) + "," + std::to_string(hidden) + "," +
                std::to_string(start) + R"(,4096,12,0]},{"stacktrace":[]}]})" "\n");

  auto report = CRKInternalReport::reportWithPath(folder, "id");
  CRKProcessReportOperation(report, std::make_shared<CRKSymbolResolver>()).main();
  EXPECT_NE(::access((folder + "/exception.crkrecord.symbolicated").c_str(), F_OK), 0);
  auto sections = CRKFileReadSections((folder + "/signal.crkrecord.symbolicated").c_str(), false);
  ASSERT_TRUE(sections);
  ASSERT_EQ(sections->size(), 1u);
  const auto& threads = (*sections)[0]["threads"];
  ASSERT_EQ(threads.size(), 2u);
  EXPECT_TRUE(threads[1].empty());
  const auto& f = threads[0];
  ASSERT_EQ(f.size(), 8u);

  // A thread's first frame at a function's first byte is that function (a fault there).
  EXPECT_EQ(f[0]["symbol"], "crksym::scaled(int, double)");
  EXPECT_EQ(f[0]["raw_symbol"], "_ZN6crksym6scaledEid");
  EXPECT_EQ(f[0]["offset"], 0u);
  EXPECT_EQ(f[0]["library"], "orrery-test");

  EXPECT_EQ(f[1]["symbol"], "crk_symbolication_exported");
  EXPECT_FALSE(f[1].contains("raw_symbol"));
  EXPECT_EQ(f[1]["offset"], 4u);
  EXPECT_EQ(f[2]["symbol"], "crksym::scaled(int, double)");
  EXPECT_EQ(f[2]["offset"], 3u);
  EXPECT_EQ(f[3]["symbol"], "(anonymous namespace)::hiddenHelper(int)");
  EXPECT_EQ(f[3]["raw_symbol"], "_ZN12_GLOBAL__N_112hiddenHelperEi");
  EXPECT_EQ(f[3]["offset"], 1u);
  // A return address at a function's first byte belongs to the function before it.
  EXPECT_NE(f[4]["symbol"], "crksym::scaled(int, double)");
  EXPECT_EQ(f[4]["library"], "orrery-test");

  // Not loaded here (other build-id), outside every image, and zero: nothing but nulls.
  for (size_t i : {5u, 6u, 7u}) {
    EXPECT_TRUE(f[i]["symbol"].is_null()) << i;
    EXPECT_TRUE(f[i].contains("raw_symbol") && f[i]["raw_symbol"].is_null()) << i;
    EXPECT_TRUE(f[i]["library"].is_null()) << i;
    EXPECT_EQ(f[i]["offset"], 0u);
  }
}

TEST(CrashSymbolication, OnlyUnloadsOrNoImageFileLeaveFramesUnresolvedOrUntouched) {
  Image image = ownImage();
  std::string folder = crashtest::makeFolder("crash-symbolication-unloads");
  const std::string crash = R"({"threads":[{"stacktrace":[)" +
                            std::to_string(recorded(image, reinterpret_cast<void*>(&hiddenHelper))) + "]}]}\n";
  writeFile(folder + "/exception.crkrecord", crash);
  auto report = CRKInternalReport::reportWithPath(folder, "id");
  CRKProcessReportOperation(report, std::make_shared<CRKSymbolResolver>()).main();
  EXPECT_NE(::access((folder + "/exception.crkrecord.symbolicated").c_str(), F_OK), 0);

  writeFile(folder + "/binary_images.crkrecord", R"({"unload":{"uuid":")" + std::string(image.details.uuid) +
                                                     R"(","base":)" + std::to_string(kRecordedBase) + "}}\n");
  CRKProcessReportOperation(report, std::make_shared<CRKSymbolResolver>()).main();
  auto sections = CRKFileReadSections((folder + "/exception.crkrecord.symbolicated").c_str(), false);
  ASSERT_TRUE(sections);
  const auto& frame = (*sections)[0]["threads"][0][0];
  EXPECT_TRUE(frame["symbol"].is_null());
  EXPECT_TRUE(frame["library"].is_null());

  // Garbage crash files yield no thread array and no output.
  writeFile(folder + "/mach_exception.crkrecord", "{\"threads\":7}\n\xff\xfe\n");
  EXPECT_FALSE(CRKProcessReportOperation::symbolicateFile(folder + "/mach_exception.crkrecord", nullptr));
  EXPECT_FALSE(CRKSymbolResolver().loadBinaryImagesFromFile(""));
  EXPECT_FALSE(CRKSymbolResolver().loadBinaryImagesFromFile(folder + "/missing"));
}

// A call that never returns may end its function: the return address then lies one past the
// caller's last byte, and still names the caller.
TEST(CrashSymbolication, AReturnAddressPastItsCallersEndNamesTheCaller) {
  Image image = ownImage();
  Dl_info info{};
  void* entry = nullptr;
  ASSERT_NE(dladdr1(reinterpret_cast<void*>(&crk_symbolication_exported), &info, &entry, RTLD_DL_SYMENT), 0);
  ASSERT_NE(entry, nullptr);
  const uint64_t size = static_cast<const ElfW(Sym)*>(entry)->st_size;
  ASSERT_GT(size, 0u);
  std::string folder = crashtest::makeFolder("crash-symbolication-end");
  writeFile(folder + "/binary_images.crkrecord", loadLine(image, kRecordedBase, image.details.uuid));
  const uint64_t end = recorded(image, reinterpret_cast<void*>(&crk_symbolication_exported), size);
  writeFile(folder + "/signal.crkrecord",
            R"({"threads":[{"stacktrace":[)" + std::to_string(end - size) + "," + std::to_string(end) + "]}]}\n");
  CRKProcessReportOperation(CRKInternalReport::reportWithPath(folder, "id"), std::make_shared<CRKSymbolResolver>())
      .main();
  auto sections = CRKFileReadSections((folder + "/signal.crkrecord.symbolicated").c_str(), false);
  ASSERT_TRUE(sections);
  const auto& frames = (*sections)[0]["threads"][0];
  EXPECT_EQ(frames[0]["symbol"], "crk_symbolication_exported");
  EXPECT_EQ(frames[1]["symbol"], "crk_symbolication_exported");
  EXPECT_EQ(frames[1]["offset"], size);
}

TEST(CrashDemangling, CppBlockInvokeSwiftAndPlainNames) {
  using D = CRKDemangleOperation;
  EXPECT_EQ(D::demangleSymbol("_ZN6crksym6scaledEid"), "crksym::scaled(int, double)");
  EXPECT_FALSE(D::demangleSymbol("_Zgarbage!"));
  EXPECT_EQ(D::demangleSymbol("__ZN6crksym6scaledEid_block_invoke_2"), "crksym::scaled(int, double)_block_invoke_2");
  EXPECT_FALSE(D::demangleSymbol("__Z1_block_invoke"));
  EXPECT_FALSE(D::demangleSymbol("__Zfoo"));
  EXPECT_FALSE(D::demangleSymbol("_T0s5print"));
  EXPECT_FALSE(D::demangleSymbol("main"));
  EXPECT_FALSE(D::demangleSymbol(nullptr));

  CRKThreadArray threads{{CRKStackFrame::stackFrameWithSymbol("_ZN6crksym6scaledEid"),
                          CRKStackFrame::stackFrameWithSymbol("c_function")}};
  D(&threads).main();
  EXPECT_EQ(threads[0][0].symbol, "crksym::scaled(int, double)");
  EXPECT_EQ(threads[0][0].rawSymbol, "_ZN6crksym6scaledEid");
  EXPECT_EQ(threads[0][1].symbol, "c_function");
  EXPECT_EQ(CRKStackFrame::stackFrameWithAddress(0x10).description(), "{[0x10 + 0] (null)}");
}

TEST(CrashSymbolication, CancellingStopsTheCurrentThreadsFrames) {
  CRKThreadArray threads(2, std::vector<CRKStackFrame>(3));
  struct Counting : CRKThreadArrayOperation {
    using CRKThreadArrayOperation::CRKThreadArrayOperation;
    int seen = 0;
    void main() override {
      enumerateFramesWithBlock([this](CRKStackFrame&, size_t) {
        if (++seen == 2) cancel();
      });
    }
  } operation(&threads);
  operation.main();
  EXPECT_EQ(operation.seen, 3);
}

}  // namespace
