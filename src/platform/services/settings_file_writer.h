#pragma once
// Saves a settings store's values to its file off the caller's thread. Each submitted state
// replaces the one still waiting, so a burst of changes is written once, on a background
// queue; flush writes what is still waiting on the calling thread, for a quit. The values are
// encoded on the caller's thread: the store's map shares its data with the copies it hands out,
// and that sharing is not safe to read on one thread while the store changes on another. A
// file linked to what is not a regular file (/dev/null) is never written, and the log says so once.

#include <QDataStream>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class SettingsFileWriter : public std::enable_shared_from_this<SettingsFileWriter> {
 public:
  explicit SettingsFileWriter(QString filePath) : mFilePath(std::move(filePath)) {}

  // Schedules writing `values` unless a write is already scheduled, which then writes these. `values` are encoded here, on the calling thread.
  void submit(QVariantMap values);
  // Writes what is still waiting now and waits for the disk; false when the last write could
  // not replace the file.
  bool flush();
  // False when the last write could not replace the file.
  bool lastWriteSucceeded();
  // The stream every settings file holds: this header, then the values.
  static constexpr quint32 kMagic = 0x4F524446;  // "ORDF"
  static constexpr quint32 kFormatVersion = 1;
  static constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_4;
  static QByteArray encode(const QVariantMap& values);

 private:
  bool writeWaiting();

  const QString mFilePath;
  std::mutex mWriteMutex;  // one write at a time, each of a newer state than the last
  bool mToldRefusal = false;  // guarded by the write mutex: the last write was refused and said so
  std::mutex mMutex;       // guards the fields below
  std::optional<QByteArray> mWaiting;  // encoded, or empty where encoding failed
  bool mScheduled = false;
  bool mLastWriteSucceeded = true;
};

}  // namespace platform
