#pragma once
// Reads the program's sources and finds the names it hands to a lookup (a localisation key, a
// picture name): string literals passed straight to the lookup, through named constants, or
// through any function that forwards one of its parameters to a lookup (found by reading the
// function's body, repeatedly, so helpers of helpers count too). A helper that appends a
// literal to its parameter ("name + "_active"") yields the name with that ending as well.
// What cannot be read this way (a key made at run time) is reported as a dynamic use, so a
// test can demand that each such place has its list.

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <vector>

namespace sourcerefs {

struct SourceFile {
  QString path;  // relative to the scanned folder
  QString code;  // comments blanked out, literals kept
};

// The text with comments replaced by blanks; strings and character literals stay.
inline QString withoutComments(const QString& text) {
  QString out = text;
  for (qsizetype i = 0; i < out.size(); ++i) {
    const QChar c = out[i];
    if (c == '"' || c == '\'') {
      for (++i; i < out.size() && out[i] != c; ++i)
        if (out[i] == '\\') ++i;
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
      for (; i < out.size() && out[i] != '\n'; ++i) out[i] = ' ';
    } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
      for (; i + 1 < out.size() && !(out[i] == '*' && out[i + 1] == '/'); ++i)
        if (out[i] != '\n') out[i] = ' ';
      if (i + 1 < out.size()) out[i] = out[i + 1] = ' ';
    }
  }
  return out;
}

// The C++ files under `folder`, leaving out the subfolders named in `skipped`.
inline std::vector<SourceFile> readSources(const QString& folder, const QStringList& skipped = {}) {
  std::vector<SourceFile> files;
  QDirIterator it(folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    const QString path = it.filePath().mid(folder.size() + 1);
    if (std::any_of(skipped.begin(), skipped.end(), [&](const QString& s) { return path.startsWith(s + '/'); })) continue;
    if (!file.open(QIODevice::ReadOnly)) continue;
    files.push_back({path, withoutComments(QString::fromUtf8(file.readAll()))});
  }
  return files;
}

// The contents of the string literals in an expression, in order.
inline QStringList literalsIn(const QString& expression) {
  static const QRegularExpression kLiteral(R"re("((?:[^"\\]|\\.)*)")re");
  QStringList out;
  for (auto it = kLiteral.globalMatch(expression); it.hasNext();) out << it.next().captured(1);
  return out;
}

// Whether the expression hands on the parameter as the name, as it stands or with a literal
// appended; a parameter that only chooses between literals (`accept ? "a" : "b"`) does not.
inline bool forwards(const QString& expression, const QString& parameter) {
  if (parameter.isEmpty() || expression.contains('?')) return false;
  const QString word = "\\b" + QRegularExpression::escape(parameter) + "\\b";
  if (!QRegularExpression(word).match(expression).hasMatch()) return false;
  return literalsIn(expression).isEmpty() || QRegularExpression(word + "[^\"]*\\+").match(expression).hasMatch();
}

// Index of the bracket closing the one at `open`, skipping literals; -1 when unbalanced.
inline qsizetype closing(const QString& code, qsizetype open) {
  int depth = 0;
  for (qsizetype i = open; i < code.size(); ++i) {
    const QChar c = code[i];
    if (c == '"' || c == '\'') {
      for (++i; i < code.size() && code[i] != c; ++i)
        if (code[i] == '\\') ++i;
    } else if (c == '(' || c == '{' || c == '[') {
      ++depth;
    } else if (c == ')' || c == '}' || c == ']') {
      if (--depth == 0) return i;
    }
  }
  return -1;
}

// The top-level comma-separated parts between code[open] and code[close].
inline QStringList splitArguments(const QString& code, qsizetype open, qsizetype close) {
  QStringList parts;
  qsizetype start = open + 1;
  for (qsizetype i = open + 1; i < close; ++i) {
    const QChar c = code[i];
    if (c == '(' || c == '{' || c == '[' || c == '"' || c == '\'') {
      if (c == '"' || c == '\'') {
        for (++i; i < close && code[i] != c; ++i)
          if (code[i] == '\\') ++i;
      } else {
        i = closing(code, i);
        if (i < 0) break;
      }
    } else if (c == ',') {
      parts << code.mid(start, i - start).trimmed();
      start = i + 1;
    }
  }
  const QString last = code.mid(start, close - start).trimmed();
  if (!last.isEmpty() || !parts.isEmpty()) parts << last;
  return parts;
}

// A parameter declaration ("const QString& key", "const char* name = nullptr") rather than
// an argument expression.
inline bool isDeclaration(const QString& part) {
  static const QRegularExpression kDeclaration(
      R"(^((const|class|struct)\s+)*[\w:<>]+((\s*[&*]+\s*|\s+)\w+(\s*=.*)?)?$)");
  static const QRegularExpression kLoneName(R"(^[a-z_]\w*$)");
  return kDeclaration.match(part).hasMatch() && !kLoneName.match(part).hasMatch() && !part.contains('"');
}

struct Call {
  const SourceFile* file = nullptr;
  qsizetype at = 0;
  QString name;
  QStringList arguments;
};

struct Function {
  const SourceFile* file = nullptr;
  QString name;
  // The parameters, then local names set from one of them (`name = QString::fromLatin1(image)`),
  // each with the index of its parameter.
  QList<QPair<QString, int>> parameters;
  qsizetype bodyBegin = 0, bodyEnd = 0;  // from the parameter list's end (initialisers count)
  bool local = false;  // a lambda or an unqualified function in a .cpp: seen only by its own file
};

inline bool isKeyword(const QString& word) {
  static const QSet<QString> kWords{"if", "for", "while", "switch", "catch", "return", "sizeof", "decltype",
                                    "static_assert", "alignof", "noexcept", "requires"};
  return kWords.contains(word);
}

inline Function function(const SourceFile& file, const QString& name, const QStringList& parts, qsizetype begin,
                         qsizetype end, bool local) {
  Function f{&file, name, {}, begin, end, local};
  static const QRegularExpression kLastWord(R"((\w+)\s*$)");
  for (const QString& part : parts) f.parameters.push_back({kLastWord.match(part.section('=', 0, 0).trimmed()).captured(1), int(f.parameters.size())});
  const QString body = file.code.mid(begin, std::max<qsizetype>(0, end - begin));
  static const QRegularExpression kLocal(R"(\b(\w+)\s*=\s*([^;=][^;]*);)");
  for (auto it = kLocal.globalMatch(body); it.hasNext();) {
    const auto m = it.next();
    const int count = int(f.parameters.size());
    for (int p = 0; p < count; ++p)
      if (QRegularExpression("^(QString::fromLatin1\\(|QString\\()?" + QRegularExpression::escape(f.parameters[p].first) + "\\b")
              .match(m.captured(2).trimmed()).hasMatch())
        f.parameters.push_back({m.captured(1), f.parameters[p].second});
  }
  return f;
}

// Every call and every function definition in the files. A `make_shared<T>(…)` counts as a
// call of T.
inline void readCallsAndFunctions(const std::vector<SourceFile>& files, std::vector<Call>& calls,
                                  std::vector<Function>& functions) {
  static const QRegularExpression kCall(R"(\b(?:make_shared\s*<\s*(?:const\s+)?(\w+)\s*>|(\w+))\s*\()");
  static const QRegularExpression kAfterParameters(R"(^\s*(?:const\s*|noexcept\s*|override\s*|final\s*|->\s*[\w:<>&*\s]+?)*(\{|:(?!:)))");
  for (const SourceFile& file : files) {
    const QString& code = file.code;
    for (auto it = kCall.globalMatch(code); it.hasNext();) {
      const auto match = it.next();
      const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
      if (isKeyword(name)) continue;
      const qsizetype open = match.capturedEnd() - 1;
      const qsizetype close = closing(code, open);
      if (close < 0) continue;
      const QStringList parts = splitArguments(code, open, close);
      const auto after = kAfterParameters.match(code.mid(close + 1, 400));
      bool declares = !parts.isEmpty();
      for (const QString& part : parts) declares &= isDeclaration(part);
      if (after.hasMatch() && (declares || parts.isEmpty()) && match.captured(1).isEmpty()) {
        // A definition: find the body's brace, stepping over a constructor's initialisers.
        qsizetype i = close + 1 + after.capturedStart(1);
        if (code[i] == ':') {
          for (++i; i < code.size() && code[i] != ';'; ++i) {
            if (code[i] == '(' || code[i] == '[') {
              i = closing(code, i);
            } else if (code[i] == '{') {
              qsizetype back = i - 1;
              while (back > 0 && code[back].isSpace()) --back;
              if (code[back] == ')' || code[back] == '}' || code[back] == ',') break;
              i = closing(code, i);
            }
            if (i < 0) break;
          }
        }
        if (i < 0 || i >= code.size() || code[i] != '{') continue;
        const bool qualified = code.mid(std::max<qsizetype>(0, match.capturedStart() - 2), 2) == "::";
        functions.push_back(function(file, name, parts, close, closing(code, i),
                                     file.path.endsWith(".cpp") && !qualified));
        continue;
      }
      if (declares) continue;
      calls.push_back({&file, match.capturedStart(), name, parts});
    }
    static const QRegularExpression kLambda(R"(\bauto\s+(\w+)\s*=\s*\[[^\]]*\]\s*\()");
    for (auto it = kLambda.globalMatch(code); it.hasNext();) {
      const auto match = it.next();
      const qsizetype open = match.capturedEnd() - 1, close = closing(code, open);
      const qsizetype brace = close < 0 ? -1 : code.indexOf('{', close);
      if (brace < 0) continue;
      functions.push_back(function(file, match.captured(1), splitArguments(code, open, close), close, closing(code, brace), true));
    }
  }
}

// Which argument of a lookup carries the name, and whether a call is a lookup at all.
struct Lookup {
  QString name;
  int argument = 0;
  // Further condition on the call (say, a picture type argument); none when empty.
  std::function<bool(const QStringList& arguments)> accepts;
};

struct Use {
  QString file;
  QString expression;
};

struct Findings {
  QSet<QString> names;   // what the code asks for
  std::vector<Use> dynamic;  // arguments that name no literal, no constant and no parameter
};

// The names the sources hand to the lookups, directly or through helpers.
inline Findings findNames(const std::vector<SourceFile>& files, const std::vector<Lookup>& lookups) {
  std::vector<Call> calls;
  std::vector<Function> functions;
  readCallsAndFunctions(files, calls, functions);

  // Constants and members: every literal assigned to a name (`kName[] = "…"`,
  // `mName = QStringLiteral("…")`), per file.
  QHash<const SourceFile*, QHash<QString, QStringList>> constants;
  static const QRegularExpression kConstant(
      R"re(\b(\w+)\s*(?:\[\s*\])?\s*(?:=|\{)\s*(?:QStringLiteral\(|QLatin1String\(|u8?)?"((?:[^"\\]|\\.)*)"\s*\)?\s*[;},])re");
  for (const SourceFile& file : files)
    for (auto it = kConstant.globalMatch(file.code); it.hasNext();) {
      const auto m = it.next();
      constants[&file][m.captured(1)] << m.captured(2);
    }

  // A lookup or a helper: the argument carrying the name, the endings its body appends, and
  // the one file that sees it (none: every file).
  struct Target {
    int argument;
    QStringList endings;
    std::function<bool(const QStringList&)> accepts;
    const SourceFile* file = nullptr;
  };
  QHash<QString, std::vector<Target>> targets;
  for (const Lookup& l : lookups) targets[l.name].push_back({l.argument, {QString()}, l.accepts});
  auto applies = [](const Target& t, const Call& call) {
    return (!t.file || t.file == call.file) && t.argument < call.arguments.size() &&
           (!t.accepts || t.accepts(call.arguments));
  };

  auto enclosing = [&](const Call& call) -> const Function* {
    const Function* best = nullptr;
    for (const Function& f : functions)
      if (f.file == call.file && f.bodyBegin < call.at && call.at < f.bodyEnd && (!best || f.bodyBegin > best->bodyBegin))
        best = &f;
    return best;
  };
  // Calls of lookups whose name argument forwards a parameter make their function a helper.
  for (bool grew = true; grew;) {
    grew = false;
    for (const Call& call : calls) {
      const auto found = targets.constFind(call.name);
      if (found == targets.constEnd()) continue;
      const Function* f = enclosing(call);
      if (!f || f->name == call.name) continue;
      const std::vector<Target> known = *found;
      for (const Target& t : known) {
        if (!applies(t, call)) continue;
        const QString expression = call.arguments[t.argument];
        for (const auto& [parameter, index] : f->parameters) {
          if (!forwards(expression, parameter)) continue;
          const QString appended = literalsIn(expression).join(QString());
          QStringList endings;
          for (const QString& e : t.endings) endings << appended + e;
          const SourceFile* scope = f->local ? f->file : nullptr;
          auto& list = targets[f->name];
          auto same = std::find_if(list.begin(), list.end(), [&](const Target& x) { return x.argument == index && x.file == scope; });
          if (same == list.end()) {
            list.push_back({index, endings, nullptr, scope});
            grew = true;
            continue;
          }
          for (const QString& e : endings)
            if (!same->endings.contains(e)) {
              same->endings << e;
              grew = true;
            }
        }
      }
    }
  }

  Findings findings;
  for (const Call& call : calls) {
    const auto found = targets.constFind(call.name);
    if (found == targets.constEnd()) continue;
    const Function* f = enclosing(call);
    for (const Target& t : *found) {
      if (!applies(t, call)) continue;
      const QString expression = call.arguments[t.argument];
      bool handsOn = false;
      if (f)
        for (const auto& parameter : f->parameters) handsOn |= forwards(expression, parameter.first);
      if (handsOn) continue;
      QStringList names = literalsIn(expression);
      static const QRegularExpression kWord(R"(\b([A-Za-z_]\w*)\b)");
      for (auto it = kWord.globalMatch(expression); it.hasNext();) names << constants[call.file].value(it.next().captured(1));
      names.removeAll(QString());
      if (names.isEmpty()) {
        // No name at all: an empty string, a number, a tag value.
        static const QRegularExpression kNoName(R"(^(QString\(\)|-?\d+|'.*'|\w*\{\})$)");
        if (!kNoName.match(expression).hasMatch()) findings.dynamic.push_back({call.file->path, expression});
        continue;
      }
      for (const QString& name : names)
        for (const QString& ending : t.endings) findings.names.insert(name + ending);
    }
  }
  return findings;
}

}  // namespace sourcerefs
