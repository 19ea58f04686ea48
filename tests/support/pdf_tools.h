#pragma once
// Reading a written PDF back with poppler's and qpdf's tools: page count and size, the words
// with their boxes, fonts, structure. A missing tool fails the test (required_tool.h).

#include "support/required_tool.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <vector>

namespace testsupport {

inline QString runTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
  QProcess process;
  process.start(program, arguments);
  process.waitForFinished(120000);
  if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return QString::fromUtf8(process.readAllStandardOutput()) + QString::fromUtf8(process.readAllStandardError());
}

// The value of one "Key:   value" line of pdfinfo.
inline QString pdfInfo(const QString& path, const QString& key) {
  if (!requireTool("pdfinfo", "poppler-utils")) return {};
  const QString output = runTool("pdfinfo", {path});
  for (const QString& line : output.split('\n'))
    if (line.startsWith(key + ":")) return line.mid(key.size() + 1).trimmed();
  return {};
}

inline int pdfPageCount(const QString& path) { return pdfInfo(path, "Pages").toInt(); }

struct PdfWord {
  int page = 0;  // from 1
  QString text;
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;  // points, y down from the page top
};

inline std::vector<PdfWord> pdfWords(const QString& path) {
  std::vector<PdfWord> words;
  if (!requireTool("pdftotext", "poppler-utils")) return words;
  const QString html = runTool("pdftotext", {"-bbox", path, "-"});
  static const QRegularExpression word(
      R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
  int page = 0;
  for (const QString& line : html.split('\n')) {
    if (line.contains("<page ")) ++page;
    const auto m = word.match(line);
    if (m.hasMatch())
      words.push_back({page, m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                       m.captured(3).toDouble(), m.captured(4).toDouble()});
  }
  return words;
}

inline QString pdfText(const QString& path) {
  if (!requireTool("pdftotext", "poppler-utils")) return {};
  return runTool("pdftotext", {"-layout", path, "-"});
}

}  // namespace testsupport
