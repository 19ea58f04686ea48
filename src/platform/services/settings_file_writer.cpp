#include "platform/services/settings_file_writer.h"

#include "platform/core/atomic_file.h"
#include "platform/core/dispatch.h"
#include "platform/services/program_log.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

QByteArray SettingsFileWriter::encode(const QVariantMap& values) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(kStreamVersion);
  out << kMagic << kFormatVersion << values;
  return out.status() == QDataStream::Ok ? bytes : QByteArray();
}

void SettingsFileWriter::submit(QVariantMap values) {
  QByteArray bytes = encode(values);
  std::lock_guard lock(mMutex);
  mWaiting = std::move(bytes);
  if (mScheduled) return;
  mScheduled = true;
  globalQueue(QueuePriority::Background).async([self = shared_from_this()] {
    {
      std::lock_guard lock(self->mMutex);
      self->mScheduled = false;
    }
    self->flush();
  });
}

bool SettingsFileWriter::flush() {
  std::lock_guard writing(mWriteMutex);
  return writeWaiting();
}

bool SettingsFileWriter::lastWriteSucceeded() {
  std::lock_guard lock(mMutex);
  return mLastWriteSucceeded;
}

// Called with the write mutex held: the state taken here is newer than any written before.
bool SettingsFileWriter::writeWaiting() {
  std::optional<QByteArray> waiting;
  {
    std::lock_guard lock(mMutex);
    waiting.swap(mWaiting);
    if (!waiting) return mLastWriteSucceeded;
  }
  QDir().mkpath(QFileInfo(mFilePath).absolutePath());
  const QByteArray& bytes = *waiting;
  AtomicWriteFailure failure;
  const bool written =
      !bytes.isEmpty() && writeFileAtomically(QFile::encodeName(mFilePath).toStdString(),
                                              std::string_view(bytes.constData(), size_t(bytes.size())), {},
                                              &failure) == AtomicWriteResult::Written;
  // A file linked to /dev/null is the user's way of keeping no settings: said once, not at every change.
  const bool refused = !failure.refusal.empty();
  if (refused && !mToldRefusal)
    qCWarning(platform::programLog, "Not writing %s: %s", qPrintable(mFilePath), failure.refusal.c_str());
  else if (!written && !refused)
    qCWarning(platform::programLog, "Failed to save settings to %s", qPrintable(mFilePath));
  mToldRefusal = refused;
  std::lock_guard lock(mMutex);
  mLastWriteSucceeded = written;
  return written;
}

}  // namespace platform
