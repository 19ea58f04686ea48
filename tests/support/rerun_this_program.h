#pragma once
// Runs this test program again as a child process with only one test, for what only a whole
// process shows (its exit): the child's output, merged, and how it ended.

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

// QProcess starts a child with a clone that shares the parent's memory until the exec
// (CLONE_VM | CLONE_VFORK); what the child runs meanwhile changes ThreadSanitizer's own state
// in the parent, which then reports races in the tests that follow. Tests that start children
// so run in the release and AddressSanitizer builds only.
#if defined(__SANITIZE_THREAD__)
#define SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER() GTEST_SKIP() << "child processes confuse ThreadSanitizer"
#else
#define SKIP_CHILD_PROCESS_UNDER_THREAD_SANITIZER() (void)0
#endif

namespace testsupport {

struct ChildRun {
  bool finished = false;
  bool exitedNormally = false;
  int exitCode = -1;
  std::string output;
};

// Starts the child and returns at once, for a parent that must go on answering it meanwhile.
inline void startThisProgramAgain(QProcess& child, const QString& test,
                                  std::initializer_list<std::pair<QString, QString>> variables) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  // Run as a shard of a shuffled run, the child would look for its one test in that shard only.
  for (const char* name : {"GTEST_TOTAL_SHARDS", "GTEST_SHARD_INDEX", "GTEST_SHARD_STATUS_FILE"}) env.remove(name);
  for (const auto& [name, value] : variables) env.insert(name, value);
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::MergedChannels);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=" + test});
}

inline ChildRun rerunThisProgram(const QString& test, std::initializer_list<std::pair<QString, QString>> variables) {
  QProcess child;
  startThisProgramAgain(child, test, variables);
  ChildRun run;
  run.finished = child.waitForFinished(60000);
  run.exitedNormally = child.exitStatus() == QProcess::NormalExit;
  run.exitCode = child.exitCode();
  run.output = child.readAll().toStdString();
  return run;
}

}  // namespace testsupport
