#pragma once
// Coordinated file access. Within the process, reads and writes of one file take turns
// (a per-file lock); between running instances, writes of one folder take turns (a
// folder-wide ProcessLock). The accessor runs synchronously on the calling thread. After a
// coordinated write every registered presenter of the file except the coordinator's own
// presenter hears of the change.

#include "platform/services/file_presenter.h"

#include <QString>

#include <chrono>
#include <functional>

namespace platform {

class FileCoordinator {
 public:
  using Accessor = std::function<void(const QString& path)>;

  // A coordinator tied to `presenter` never reports its own writes to that presenter.
  explicit FileCoordinator(const FilePresenter* presenter = nullptr) : mPresenter(presenter) {}

  static void addFilePresenter(FilePresenter* presenter);
  static void removeFilePresenter(FilePresenter* presenter);

  // Both answer false, without running the accessor, when the path cannot be coordinated
  // (empty or relative). Otherwise they run it and answer true; the accessor reports its own
  // success through what it captures.
  bool coordinateReading(const QString& path, const Accessor& reader);
  // Writing also needs the folder lock between instances. When another instance holds it
  // longer than the patience below (or the folder cannot be locked), nothing is written: the
  // answer is false and `refusal` (when given) says why. The wait blocks the calling thread,
  // so writers call this off the main thread.
  bool coordinateWriting(const QString& path, const Accessor& writer, QString* refusal = nullptr);

  // How long a write waits for another instance's folder lock.
  static std::chrono::milliseconds folderLockPatience();

 private:
  const FilePresenter* mPresenter;
};

}  // namespace platform
