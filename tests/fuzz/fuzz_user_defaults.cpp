// The application's settings file "defaults.dat": whatever it holds, the store opens, and what it
// loaded saves and loads back to the same file.
#include "fuzz/fuzz_qt.h"

#include "platform/services/user_defaults.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {
QByteArray contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzzsupport::scratchFolder().filePath(QStringLiteral("defaults.dat"));
  {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  }
  platform::UserDefaults loaded(path);
  (void)loaded.stringForKey(QStringLiteral("key"));
  (void)loaded.dictionaryForKey(QStringLiteral("key"));
  loaded.synchronize();
  if (!loaded.flush()) std::abort();
  const QByteArray saved = contents(path);
  platform::UserDefaults again(path);
  again.synchronize();
  if (!again.flush()) std::abort();
  if (contents(path) != saved) {
    std::fprintf(stderr, "round trip broken: saved settings read back differently\n");
    std::abort();
  }
  return 0;
}
