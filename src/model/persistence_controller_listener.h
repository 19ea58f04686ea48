#pragma once
// What the persistence facade tells the screens about document lists. Listeners are held
// weakly and called on the main thread; every method has an empty default.

#include "model/document_location.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orrery {

class IdeaProxy;

class PersistenceControllerListener {
 public:
  virtual ~PersistenceControllerListener() = default;

  // A cloud workspace (location 2 or 3) was dropped because the storage choice no longer
  // selects it.
  virtual void pleaseStopUsingLocation(DocumentLocation /*location*/) {}
  // Declared for listeners; the facade never sends it.
  virtual void batchUpdateStartingInLocation(DocumentLocation /*location*/) {}
  // A workspace received a complete document list.
  virtual void batchUpdateDoneInLocation(DocumentLocation /*location*/) {}
  // Once the list is complete, storage reported a document not yet listed (a copy).
  virtual void documentAppended(const std::shared_ptr<IdeaProxy>& /*proxy*/) {}
  // A document was created through a workspace and its proxy inserted at the index.
  virtual void documentAdded(const std::shared_ptr<IdeaProxy>& /*proxy*/, std::size_t /*index*/) {}
  // Declared for listeners; the facade never sends it.
  virtual void documentMoved(const std::shared_ptr<IdeaProxy>& /*proxy*/, std::size_t /*index*/) {}
  // A document was saved through a workspace, or storage reported a changed proxy.
  virtual void documentUpdated(const std::shared_ptr<IdeaProxy>& /*proxy*/) {}
  // A document left a workspace's list.
  virtual void documentDeleted(const QString& /*docIdentifier*/) {}
  // A search finished.
  virtual void searchIsReady(const std::vector<std::shared_ptr<IdeaProxy>>& /*results*/,
                             DocumentLocation /*location*/, std::int64_t /*requestIdentifier*/) {}
};

}  // namespace orrery
