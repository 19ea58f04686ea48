// A crash report's whole road: runs of the crasher with the crash reporting controller
// started die in four ways and leave their reports undecided; a relaunch of the same program
// finds them (and a damaged one), symbolicates, packages and uploads each over HTTPS pinned
// to the test's own authority, and deletes each package only once the server took it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crash/crk_file_manager.h"
#include "crash_test_support.h"
#include "support/https_test_server.h"
#include "support/required_tool.h"

namespace {

using nlohmann::json;
using testsupport::HttpsTestRequest;
using testsupport::HttpsTestResponse;
using testsupport::HttpsTestServer;
using testsupport::TestCertificateAuthority;

// The value of the crasher's "<tag> <value>" line, or "".
std::string tagged(const std::string& output, const std::string& tag) {
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(tag + " ", 0) == 0) return line.substr(tag.size() + 1);
  return {};
}

std::vector<json> jsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(json::parse(line, nullptr, /*allow_exceptions=*/false));
  return lines;
}

json section(const std::vector<json>& records, const std::string& name) {
  for (const auto& record : records)
    if (record.is_object() && record.contains(name)) return record[name];
  return nullptr;
}

// An uploaded body read back by Python's email module: each part's text by name.
std::map<std::string, std::string> packageParts(const std::string& folder, const HttpsTestRequest& request) {
  const std::string type = request.header("Content-Type").value_or("");
  const std::string prefix = "multipart/form-data; boundary=";
  EXPECT_EQ(type.rfind(prefix, 0), 0u) << type;
  const std::string path = folder + "/" + type.substr(prefix.size()) + ".multipartmime";
  std::ofstream(path, std::ios::binary) << request.body;
  const json read = json::parse(crashtest::run("python3 " CRASH_PACKAGE_PARTS " '" + path + "'"), nullptr, false);
  EXPECT_TRUE(read.is_object() && read["defects"].empty()) << read.dump();
  std::map<std::string, std::string> parts;
  if (read.is_object())
    for (const auto& part : read["parts"]) parts[part["name"].get<std::string>()] = part["body"].get<std::string>();
  return parts;
}

// Each thread's symbolicated frames in a crash file, and the index of the crashed thread.
struct Threads {
  json frames = json::array();
  json pcs = json::array();  // the crashed thread's recorded addresses
  size_t crashed = SIZE_MAX;
};

Threads threadsOf(const std::map<std::string, std::string>& parts, const std::string& file) {
  Threads out;
  auto raw = parts.find(file);
  auto named = parts.find(file + ".symbolicated");
  if (raw == parts.end() || named == parts.end()) {
    ADD_FAILURE() << "no " << file << " or its symbolication in the package";
    return out;
  }
  const json threads = section(jsonLines(raw->second), "threads");
  out.frames = section(jsonLines(named->second), "threads");
  EXPECT_TRUE(threads.is_array() && out.frames.is_array() && threads.size() == out.frames.size()) << file;
  for (size_t i = 0; threads.is_array() && i < threads.size(); ++i)
    if (threads[i].value("crashed", false)) out.crashed = i;
  EXPECT_NE(out.crashed, SIZE_MAX) << file;
  if (out.crashed != SIZE_MAX) {
    out.pcs = threads[out.crashed]["stacktrace"];
    EXPECT_EQ(out.frames[out.crashed].size(), out.pcs.size());
  }
  return out;
}

// gdb's name for each file address of the program ("" where it knows none), from the
// program's own symbols: "info symbol" answers "<name> + <offset> in section …".
std::vector<std::string> gdbNames(const std::vector<uint64_t>& addresses) {
  std::string command = "timeout 120 gdb -batch -nx";
  for (uint64_t address : addresses) command += " -ex 'info symbol " + std::to_string(address) + "'";
  std::istringstream in(crashtest::run(command + " '" CRASH_CRASHER "' 2>/dev/null"));
  std::vector<std::string> names;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("No symbol matches", 0) == 0) {
      names.emplace_back();
      continue;
    }
    auto end = line.find(" + ");
    if (end == std::string::npos) end = line.find(" in section ");
    if (end != std::string::npos) names.push_back(line.substr(0, end));
  }
  return names;
}

// Every frame the crasher's own image holds is named as gdb names it. A return address is
// given to gdb one byte back, inside its call, as gdb's own backtraces do.
void expectGdbsNames(const std::map<std::string, std::string>& parts, const Threads& threads) {
  uint64_t base = 0;
  for (const auto& record : jsonLines(parts.at("binary_images.crkrecord"))) {
    const json load = record.value("load", json());
    const std::string path = load.is_object() ? load.value("path", "") : "";
    if (path.size() >= 16 && path.compare(path.size() - 16, 16, "crash_crasher_fp") == 0) base = load["base"];
  }
  ASSERT_NE(base, 0u) << "the crasher's image is in the report";
  const json& stack = threads.frames[threads.crashed];
  std::vector<size_t> ours;
  std::vector<uint64_t> addresses;
  for (size_t i = 0; i < stack.size(); ++i) {
    if (stack[i]["library"] != "crash_crasher_fp") continue;
    ours.push_back(i);
    addresses.push_back(threads.pcs[i].get<uint64_t>() - base - (i == 0 ? 0 : 1));
  }
  ASSERT_FALSE(ours.empty());
  const std::vector<std::string> names = gdbNames(addresses);
  ASSERT_EQ(names.size(), ours.size());
  for (size_t k = 0; k < ours.size(); ++k)
    EXPECT_EQ(stack[ours[k]]["symbol"].is_string() ? stack[ours[k]]["symbol"].get<std::string>() : "", names[k])
        << "frame " << ours[k];
}

// The first frame of the stack whose name begins with `name`, or null.
json frameNamed(const json& stack, const std::string& name) {
  for (const auto& frame : stack)
    if (frame["symbol"].is_string() && frame["symbol"].get<std::string>().rfind(name, 0) == 0) return frame;
  return nullptr;
}

// What every crashed stack of the crasher shows: its program's frames named, C++ ones
// demangled with their raw name beside, down to main.
void expectNamedDownToMain(const json& stack) {
  const json run = frameNamed(stack, "runKind(int, char**, std::");
  ASSERT_TRUE(run.is_object()) << stack.dump();
  EXPECT_EQ(run["raw_symbol"].get<std::string>().rfind("_Z7runKindiPPc", 0), 0u) << run.dump();
  EXPECT_EQ(run["library"], "crash_crasher_fp");
  const json main = frameNamed(stack, "main");
  ASSERT_TRUE(main.is_object()) << stack.dump();
  EXPECT_GT(main["offset"].get<uint64_t>(), 0u) << "a return address lies inside its caller";
  EXPECT_FALSE(main.contains("raw_symbol") && main["raw_symbol"].is_string()) << "a C name has no raw form";
}

TEST(CrashEndToEnd, ARelaunchUploadsEveryEarlierCrashSymbolicatedAndKeepsNothing) {
  ASSERT_TRUE(testsupport::requireTool("python3", "python3"));
  ASSERT_TRUE(testsupport::requireTool("gdb", "gdb"));
  TestCertificateAuthority ca("Crash End To End Root");
  HttpsTestServer server(ca);
  // The first upload is turned away for now: its package stays until its retry is taken.
  std::vector<HttpsTestResponse> answers(6, HttpsTestResponse::ok("{}"));
  answers[0] = HttpsTestResponse::withStatus(503);
  server.script("/sdk-api", answers);
  const std::string root = crashtest::makeFolder("crash-end-to-end");
  const std::string scratch = crashtest::makeFolder("crash-end-to-end-scratch");
  const auto der = ca.rootDER();
  std::ofstream(scratch + "/ca.der", std::ios::binary).write(reinterpret_cast<const char*>(der.data()),
                                                            static_cast<std::streamsize>(der.size()));
  const std::string command = "CrashKitReportsEndpoint='" + server.origin() + "' CRASHER_CA='" + scratch +
                              "/ca.der' '" CRASH_CRASHER "' '" + root + "' ";

  std::map<std::string, std::string> kindOfRun;
  for (const char* kind : {"kit-null", "kit-throw-runtime", "kit-parked", "kit-recursion"}) {
    const std::string output = crashtest::run(command + kind + " 2>/dev/null");
    const std::string run = tagged(output, "RUN");
    ASSERT_EQ(run.size(), 32u) << kind << ": " << output;
    ASSERT_NE(output.find("READY"), std::string::npos) << kind << ": " << output;
    kindOfRun[run] = kind;
  }
  const telemetry::CRKFileManager tree(root);
  ASSERT_EQ(tree.activePathContents().size(), 4u) << "each crashed run left its report undecided";
  EXPECT_EQ(server.requestCount(), 0u);
  // A damaged report (torn metadata, garbage among its records, no image list) goes out as
  // far as it is readable without holding up the others; a run that ended without a crash
  // leaves nothing to send and is deleted.
  const std::string damaged = "0123456789abcdef0123456789abcdef";
  const std::string damagedRecord = "\x01\x02 not a record\n{\"signal\":{\"number\":11}}\n{\"threads\":[{\"crashed\":tr";
  tree.createDirectoryAtPath(tree.activePath() + "/" + damaged);
  std::ofstream(tree.activePath() + "/" + damaged + "/metadata.crkrecord") << "{\"identity\":{\"session_id\":\"to\n\xff\xfe\n";
  std::ofstream(tree.activePath() + "/" + damaged + "/signal.crkrecord") << damagedRecord;
  const std::string clean = "fedcba9876543210fedcba9876543210";
  tree.createDirectoryAtPath(tree.activePath() + "/" + clean);
  std::ofstream(tree.activePath() + "/" + clean + "/metadata.crkrecord")
      << R"({"identity":{"session_id":"fedcba9876543210fedcba9876543210"}})" "\n";

  const std::string output = crashtest::run(command + "relaunch 2>&1");
  ASSERT_NE(output.find("SETTLED"), std::string::npos) << output;
  const std::string relaunch = tagged(output, "RUN");

  // Nothing is kept once the server took every package.
  EXPECT_EQ(tree.activePathContents(), std::vector<std::string>{tree.activePath() + "/" + relaunch});
  EXPECT_TRUE(tree.processingPathContents().empty());
  EXPECT_TRUE(tree.preparedPathContents().empty());
  EXPECT_TRUE(tree.contentsOfDirectory(tree.quarantinePath()).empty());

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 6u) << "one package per crash, one sent again";
  std::set<std::string> reported;
  size_t again = 0;
  for (size_t i = 1; i < requests.size(); ++i) {
    if (requests[i].header("Content-Type") != requests[0].header("Content-Type")) continue;
    ++again;
    EXPECT_EQ(requests[i].body, requests[0].body);
  }
  EXPECT_EQ(again, 1u) << "the package turned away is sent again, whole";
  for (size_t i = 1; i < requests.size(); ++i) {
    const auto& request = requests[i];
    EXPECT_EQ(request.path, "/sdk-api/v1/platforms/mac/apps/org.orrery.crasher/reports");
    EXPECT_EQ(request.header("X-CrashKit-API-Key"), "crasher-api-key");
    const auto parts = packageParts(scratch, request);
    ASSERT_TRUE(parts.count("report_id"));
    reported.insert(parts.at("report_id"));
    if (parts.at("report_id") == damaged) {
      // Named by its folder; its record sent as it lay, with nothing to symbolicate.
      EXPECT_EQ(parts.count("signal.crkrecord") ? parts.at("signal.crkrecord") : "", damagedRecord);
      EXPECT_EQ(parts.count("signal.crkrecord.symbolicated"), 0u);
      continue;
    }
    const std::string kind = kindOfRun[parts.at("report_id")];
    SCOPED_TRACE(kind);
    EXPECT_EQ(parts.count("metadata.crkrecord"), 1u);
    EXPECT_EQ(parts.count("binary_images.crkrecord"), 1u);

    if (kind == "kit-throw-runtime") {
      const json exception = section(jsonLines(parts.at("exception.crkrecord")), "exception");
      EXPECT_EQ(exception["type"], "c++");
      const Threads threads = threadsOf(parts, "exception.crkrecord");
      ASSERT_NE(threads.crashed, SIZE_MAX);
      const json& stack = threads.frames[threads.crashed];
      // Calls that never return end std::terminate and __cxa_throw: their return addresses
      // lie past their ends and still name them.
      EXPECT_TRUE(frameNamed(stack, "std::terminate()").is_object()) << stack.dump();
      EXPECT_TRUE(frameNamed(stack, "__cxa_throw").is_object()) << stack.dump();
      expectNamedDownToMain(stack);
      expectGdbsNames(parts, threads);
      // The abort that followed has its own record, symbolicated as well.
      EXPECT_EQ(parts.count("signal.crkrecord.symbolicated"), 1u);
      continue;
    }
    const Threads threads = threadsOf(parts, "signal.crkrecord");
    ASSERT_NE(threads.crashed, SIZE_MAX);
    const json& stack = threads.frames[threads.crashed];
    ASSERT_FALSE(stack.empty());
    expectGdbsNames(parts, threads);
    if (kind == "kit-recursion") {
      // The overflowing call's first frame is where it stopped, never stepped back.
      EXPECT_EQ(stack[0]["symbol"], "crasherRecurse") << stack.dump();
      EXPECT_EQ(stack[1]["symbol"], "crasherRecurse") << stack.dump();
      continue;
    }
    EXPECT_EQ(stack[0]["symbol"], "crasherNullWrite") << stack.dump();
    EXPECT_EQ(stack[0]["library"], "crash_crasher_fp");
    expectNamedDownToMain(stack);
    if (kind == "kit-parked") {
      size_t parked = 0;
      for (const auto& thread : threads.frames) parked += frameNamed(thread, "crasherParkThread").is_object();
      EXPECT_EQ(parked, 64u);
    }
  }
  std::set<std::string> runs{damaged};
  for (const auto& [run, kind] : kindOfRun) runs.insert(run);
  EXPECT_EQ(reported, runs);
}

}  // namespace
