#include "crash/crk_context.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "crash/crk_binary_image.h"
#include "crash/crk_file_reader.h"
#include "crash/crk_log.h"
#include "crash/crk_process.h"
#include "crash_test_support.h"
#include "support/required_tool.h"

namespace telemetry {
namespace {

using crashtest::DeathStyle;

// The build-id of an ELF file as `readelf -n` prints it.
std::string readelfBuildID(const std::string& path) {
  if (!testsupport::requireTool("readelf", "binutils")) return {};
  const std::string out = crashtest::run("readelf -n '" + path + "' 2>/dev/null");
  const auto at = out.find("Build ID: ");
  if (at == std::string::npos) return {};
  const auto start = at + std::strlen("Build ID: ");
  return out.substr(start, out.find('\n', start) - start);
}

std::string selfPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

TEST(CRKContextTest, StartUpWritesTheMetadataRecord) {
  const std::string folder = crashtest::contextReportFolder();
  ASSERT_TRUE(CRKContextIsInitialized());
  auto sections = CRKFileReadSections((folder + "/metadata.crkrecord").c_str(), false);
  ASSERT_TRUE(sections);
  ASSERT_EQ(sections->size(), 4u);
  const auto& identity = (*sections)[0]["identity"];
  EXPECT_EQ(identity["generator"], "CrashKit Mac SDK/3.8.2");
  EXPECT_EQ(identity["build_version"], "118");
  EXPECT_EQ(identity["api_key"], "0123456789abcdef");
  EXPECT_EQ(identity["session_id"], "session-1");
  EXPECT_EQ(identity["install_id"], "install-1");
  EXPECT_TRUE(identity["beta_token"].is_null());
  EXPECT_EQ(identity["absolute_log_timestamps"], true);
  EXPECT_GT(identity["started_at"].get<uint64_t>(), 1600000000u);

  const auto& host = (*sections)[1]["host"];
  EXPECT_EQ(host["machine"], crashtest::run("uname -m").substr(0, crashtest::run("uname -m").size() - 1));
  EXPECT_TRUE(host["cpu"].is_string());
  EXPECT_NE(host["cpu"], "(failed)");
  EXPECT_TRUE(host.contains("locale"));
  EXPECT_EQ(host["platform"], crashtest::run("uname -s").substr(0, crashtest::run("uname -s").size() - 1))
      << "the system it runs on, as the analytics metadata says";

  EXPECT_TRUE((*sections)[2].contains("application"));
  const auto& executable = (*sections)[3]["executable"];
  EXPECT_EQ(executable["architecture"], "x86_64");
  EXPECT_EQ(executable["uuid"], readelfBuildID(selfPath()).substr(0, 32));
  EXPECT_GT(executable["size"].get<uint64_t>(), 0u);
}

TEST(CRKContextTest, StartUpFillsEveryPathAndLimitAndProtectsTheContext) {
  const std::string folder = crashtest::contextReportFolder();
  CRKContext* c = CRKContextGet();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(std::string(c->sdkLogPath), folder + "/sdk.log");
  EXPECT_EQ(std::string(c->binaryImagesPath), folder + "/binary_images.crkrecord");
  EXPECT_EQ(std::string(c->keyValue.userCompactedPath), folder + "/user_compacted_kv.crkrecord");
  EXPECT_EQ(c->keyValue.maxUserKeys, 64u);
  EXPECT_EQ(c->keyValue.maxInternalKeys, 32u);
  EXPECT_EQ(c->log.bufferSize, 65536u);
  EXPECT_EQ(std::string(c->customExceptions.bPath), folder + "/custom_exception_b.crkrecord");
  EXPECT_NE(c->documentsPath, nullptr);
  EXPECT_GT(c->pageSize, 0u);
  if (!c->debuggerAttached) {
    EXPECT_EQ(std::string(c->signal.path), folder + "/signal.crkrecord");
    EXPECT_EQ(std::string(c->exception.path), folder + "/exception.crkrecord");
  }
  EXPECT_NE(c->signalStack, nullptr);
  EXPECT_NE(c->signal.writeBuffer, nullptr);
  EXPECT_NE(c->threadSlots, nullptr);
  EXPECT_TRUE(c->allocator->isProtected.load());

  DeathStyle style;
  EXPECT_DEATH(
      {
        crashtest::contextReportFolder();
        // A loaded machine may still be finishing the start-up's parallel set-ups, which
        // protect the context last (the mark is set just before the pages turn read-only):
        // a write of the value it holds is tried until it faults, for ten seconds at most.
        volatile uint8_t* initialized = &CRKContextGet()->initialized;
        for (int i = 0; i < 10000; ++i) {
          *initialized = *initialized;
          usleep(1000);
        }
      },
      "");
}

TEST(CRKContextTest, SDKLogFormatsItsOwnSubsetAndHonoursTheThreshold) {
  const std::string folder = crashtest::contextReportFolder();
  const std::string log = folder + "/sdk.log";
  const size_t before = crashtest::readText(log).size();
  const int previous = CRKSDKLogSetThreshold(kCRKLogWarn);
  CRKLogInfo("below the threshold\n");
  CRKLogWarn("p=%p s=%s n=%s u=%u x=%x d=%d z=%zu l=%llx %%\n", reinterpret_cast<void*>(0xbeef), "text",
             static_cast<const char*>(nullptr), 4000000000u, 0xabcu, -17);
  CRKSDKLogSetThreshold(previous);
  const std::string added = crashtest::readText(log).substr(before);
  EXPECT_EQ(added.find("below the threshold"), std::string::npos);
  EXPECT_NE(added.find("WARN  [TestBody:"), std::string::npos) << added;
  EXPECT_NE(added.find("] p=0xbeef s=text n=(null) u=4000000000 x=abc d=-17 z=%zu l=%llx %%\n"), std::string::npos)
      << added;
}

TEST(CRKContextTest, CrashTimeLogMessagesWaitInTheBufferUntilAnErrorOrTheFlush) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        const std::string log = crashtest::contextReportFolder() + "/sdk.log";
        const size_t before = crashtest::readText(log).size();
        CRKSDKLogBeginCrashBuffering();
        CRKLogWarn("first\n");
        CRKLogInfo("second\n");
        if (crashtest::readText(log).size() != before) _exit(2);
        CRKLogError("third\n");
        const std::string after = crashtest::readText(log).substr(before);
        if (after.find("first") == std::string::npos || after.find("third") == std::string::npos) _exit(3);
        CRKLogWarn("fourth\n");
        CRKSDKLogFlushCrashBuffer();
        if (crashtest::readText(log).find("fourth") == std::string::npos) _exit(4);
        if (CRKContextMarkAndCheckIfCrashed()) _exit(5);
        if (!CRKContextMarkAndCheckIfCrashed()) _exit(6);
        if (!CRKContextHasCrashed()) _exit(7);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CRKContextTest, BeforeStartUpNothingIsFoundOrLogged) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        CRKBinaryImageNode node;
        if (CRKContextIsInitialized()) _exit(2);
        if (CRKBinaryImageSafeFindImageForAddress(reinterpret_cast<uint64_t>(&readelfBuildID), &node)) _exit(3);
        if (CRKContextMarkAndCheckIfCrashed()) _exit(4);
        CRKLogError("nowhere to go\n");
        if (CRKContextInitialize(nullptr)) _exit(5);
        CRKContextInitData noFolder;
        if (CRKContextInitialize(&noFolder)) _exit(6);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CRKProcessTest, ATracingParentCountsAsADebuggerAndHandlersStayAway) {
  EXPECT_FALSE(CRKProcessStatusShowsTracer("Name:\tx\nTracerPid:\t0\n", 23));
  const char traced[] = "Name:\tx\nTracerPid:\t4242\nUid:\t0\n";
  EXPECT_TRUE(CRKProcessStatusShowsTracer(traced, sizeof traced - 1));

  const std::string folder = crashtest::makeFolder("traced");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(10);
    if (!CRKProcessDebuggerAttached()) _exit(11);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(crashtest::exitedWith(status, 0, {{10, "PTRACE_TRACEME failed"}, {11, "the tracer was not seen"}}));
  EXPECT_EQ(CRKProcessDebuggerAttached(), false) << "this test itself runs untraced";
}

TEST(CRKContextTest, WithADebuggerAttachedNoHandlerSetUpRunsButEverythingElseDoes) {
  DeathStyle style;
  EXPECT_EXIT(
      {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(10);
        const std::string folder = crashtest::makeFolder("traced-start");
        CRKContextInitData data;
        data.reportPath = folder.c_str();
        if (!CRKContextInitialize(&data)) _exit(11);
        const CRKContext* c = CRKContextGet();
        if (!c->debuggerAttached || !CRKContextReadFlag()) _exit(12);
        if (c->signal.path || c->exception.path) _exit(13);
        if (!c->binaryImagesPath || !c->keyValue.userCompactedPath || !c->documentsPath) _exit(14);
        auto metadata = CRKFileReadSections((folder + "/metadata.crkrecord").c_str(), false);
        if (!metadata || metadata->size() != 4) _exit(15);
        if (crashtest::readText(folder + "/sdk.log").find("Debugger present - not installing handlers") ==
            std::string::npos)
          _exit(16);
        _exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(CRKHostTest, CPUBrandIsTheFirstModelName) {
  const char cpuinfo[] = "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU\nmodel name\t: other\n";
  char out[128];
  ASSERT_TRUE(CRKHostCPUBrand(cpuinfo, sizeof cpuinfo - 1, out, sizeof out));
  EXPECT_STREQ(out, "Intel(R) Xeon(R) CPU");
  char tiny[6];
  ASSERT_TRUE(CRKHostCPUBrand(cpuinfo, sizeof cpuinfo - 1, tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "Intel");
  EXPECT_FALSE(CRKHostCPUBrand("processor : 0\n", 14, out, sizeof out));
}

struct LoadedImage {
  std::string path;
  uint64_t base = 0;
};

std::map<uint64_t, LoadedImage> loaderImages() {
  std::map<uint64_t, LoadedImage> images;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
          const uint64_t base = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr - info->dlpi_phdr[i].p_offset;
          (*static_cast<std::map<uint64_t, LoadedImage>*>(data))[base] = {info->dlpi_name, base};
          break;
        }
        return 0;
      },
      &images);
  return images;
}

TEST(CRKBinaryImageTest, TheTableAndTheLogMatchTheLoaderAndReadelf) {
  const std::string folder = crashtest::contextReportFolder();
  // Earlier tests in this process may have opened libraries (libcurl is opened at its first
  // transfer): the crash path reconciles before it records, and so does this test.
  CRKBinaryImageReconcile();
  auto lines = CRKFileReadSections((folder + "/binary_images.crkrecord").c_str(), false);
  ASSERT_TRUE(lines);
  std::map<uint64_t, nlohmann::json> logged;
  for (const auto& line : *lines) {
    if (line.contains("load")) logged[line["load"]["base"].get<uint64_t>()] = line["load"];
    if (line.contains("unload")) logged.erase(line["unload"]["base"].get<uint64_t>());
  }

  for (const auto& [base, image] : loaderImages()) {
    SCOPED_TRACE(image.path);
    ASSERT_TRUE(logged.count(base)) << "every image the loader reports is logged";
    CRKBinaryImageNode node;
    ASSERT_TRUE(CRKBinaryImageSafeFindImageForAddress(base, &node));
    EXPECT_EQ(node.base, base);
    EXPECT_EQ(logged[base]["size"].get<uint64_t>(), node.textSize);
    EXPECT_FALSE(CRKBinaryImageSafeFindImageForAddress(base + node.textSize, &node) && node.base == base)
        << "the end is outside";
    const std::string path = logged[base]["path"].is_string() ? logged[base]["path"].get<std::string>() : "";
    if (!path.empty() && path[0] == '/') {
      const std::string id = readelfBuildID(path);
      if (!id.empty()) {
        EXPECT_EQ(logged[base]["uuid"], id.substr(0, 32));
      }
      EXPECT_TRUE(CRKBinaryImageHasUnwindInfo(&node)) << "every ELF image here has .eh_frame_hdr";
      EXPECT_GT(node.ehFrame, node.base);
      EXPECT_GT(node.unwindInfoEnd, node.unwindInfo);
    }
  }
  CRKBinaryImageDetails details;
  const std::string self = readelfBuildID(selfPath()).substr(0, 32);
  ASSERT_TRUE(CRKBinaryImageFindImageForUUID(self.c_str(), &details));
  EXPECT_EQ(details.node.base, loaderImages().begin()->first);
  EXPECT_FALSE(CRKBinaryImageFindImageForUUID("00000000000000000000000000000000", &details));
}

TEST(CRKBinaryImageTest, ReconciliationLogsImagesLoadedAndUnloadedSinceStartUp) {
  const std::string folder = crashtest::contextReportFolder();
  const std::string logPath = folder + "/binary_images.crkrecord";
  CRKBinaryImageReconcile();  // what earlier tests in this process opened
  EXPECT_EQ(CRKBinaryImageReconcile(), 0) << "nothing changed since";
  void* handle = dlopen(CRASH_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  void* function = dlsym(handle, "crash_test_library_call");
  CRKBinaryImageNode node;
  EXPECT_FALSE(CRKBinaryImageSafeFindImageForAddress(reinterpret_cast<uint64_t>(function), &node));
  EXPECT_EQ(CRKBinaryImageReconcile(), 1);
  ASSERT_TRUE(CRKBinaryImageSafeFindImageForAddress(reinterpret_cast<uint64_t>(function), &node));
  const uint64_t base = node.base;
  auto lines = CRKFileReadSections(logPath.c_str(), false);
  ASSERT_TRUE(lines);
  const nlohmann::json load = lines->back()["load"];
  EXPECT_EQ(load["path"], CRASH_TEST_LIBRARY);
  EXPECT_EQ(load["base"], base);
  EXPECT_EQ(load["uuid"], readelfBuildID(CRASH_TEST_LIBRARY).substr(0, 32));

  ASSERT_EQ(dlclose(handle), 0);
  EXPECT_EQ(CRKBinaryImageReconcile(), 1);
  EXPECT_FALSE(CRKBinaryImageSafeFindImageForAddress(base + 16, &node));
  lines = CRKFileReadSections(logPath.c_str(), false);
  const nlohmann::json unload = lines->back()["unload"];
  EXPECT_EQ(unload["base"], base);
  EXPECT_EQ(unload["uuid"], load["uuid"]);
  EXPECT_EQ(CRKBinaryImageReconcile(), 0);

  CRKBinaryImageDetails untracked;
  untracked.node.base = 0x1000000;
  EXPECT_FALSE(CRKBinaryImageStoreNode(false, untracked)) << "an image never tracked cannot be unloaded";
}

}  // namespace
}  // namespace telemetry
