#pragma once
// A storage engine held in memory for tests and benchmarks, standing in for the cloud engines.
// Documents are kept as their JSON bytes, so every open and fetch reads a fresh tree. Answers
// arrive on the main queue (on the next turn, after a delay, or when released by the test);
// any operation can be made to fail; reports to the workspace are sent on request.

#include "model/idea.h"
#include "model/idea_document.h"
#include "model/persistence_state.h"

#include "platform/core/dispatch.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <QDateTime>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace orrery::testing {

class MemoryPersistenceState : public PersistenceState, public std::enable_shared_from_this<MemoryPersistenceState> {
 public:
  enum class Op { Create, Open, Fetch, Update, Delete, Close };

  ~MemoryPersistenceState() override { leaveState(); }

  // ---- storage, outside any request
  void store(const std::shared_ptr<IdeaDocument>& doc) { mFiles.insert(doc->docIdentifier(), doc->exportAsPureJSONData()); }
  void store(const QString& docIdentifier, const IdeaPtr& root) {
    auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
    doc->setIdea(root);
    doc->setDateCreated(QDateTime::currentDateTimeUtc());
    doc->setDateModified(doc->dateCreated());
    store(doc);
  }
  bool hasStored(const QString& docIdentifier) const { return mFiles.contains(docIdentifier); }
  // A fresh reading of the stored document, or null.
  std::shared_ptr<IdeaDocument> read(const QString& docIdentifier) const {
    if (!mFiles.contains(docIdentifier)) return nullptr;
    auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
    return doc->loadFromJSONData(mFiles.value(docIdentifier)) ? doc : nullptr;
  }
  IdeaPtr storedIdea(const QString& docIdentifier) const {
    auto doc = read(docIdentifier);
    return doc ? doc->idea() : nullptr;
  }
  std::size_t heldTokens(const QString& docIdentifier) const {
    auto it = mTokens.find(docIdentifier);
    return it == mTokens.end() ? 0 : it->second.size();
  }

  // ---- scripting
  void failNext(Op op, int times = 1) { mFailures[op] += times; }
  // 0 answers on the next turn of the main queue.
  void setAnswerDelay(double seconds) { mDelay = seconds; }
  // Held answers wait for releaseHeldAnswers.
  void holdAnswers(bool hold) { mHold = hold; }
  void releaseHeldAnswers() {
    auto held = std::move(mHeld);
    mHeld.clear();
    for (auto& answer : held) platform::mainQueue().async(std::move(answer));
  }
  std::size_t heldAnswerCount() const { return mHeld.size(); }
  // Reads (fetch) decode on this queue and answer on the main queue, as a real engine does.
  void setReadQueue(platform::Queue* queue) { mReadQueue = queue; }
  int calls(Op op) const {
    auto it = mCalls.find(op);
    return it == mCalls.end() ? 0 : it->second;
  }
  const std::vector<ProxyList>& savedLists() const { return mSavedLists; }
  bool hasLeft() const { return mLeft; }

  // ---- reports to the delegate, at once
  void reportStatus(std::int64_t code) { tell([&](auto& d) { d.statusChange(code, this); }); }
  void reportFound(const QString& docIdentifier) { tell([&](auto& d) { d.foundIdeaDocument(docIdentifier, this); }); }
  void reportProxyList(const ProxyList& proxies) { tell([&](auto& d) { d.observeProxyList(proxies, this); }); }
  void reportProxy(const IdeaProxyPtr& proxy) { tell([&](auto& d) { d.observeIdeaProxy(proxy, this); }); }
  void reportDeleted(const QString& docIdentifier) { tell([&](auto& d) { d.ideaDocumentDeleted(docIdentifier, this); }); }
  // Reports every stored document as found, then the list of their proxies.
  void reportStoredDocuments() {
    ProxyList proxies;
    for (auto it = mFiles.cbegin(); it != mFiles.cend(); ++it) {
      reportFound(it.key());
      if (auto doc = read(it.key())) proxies.push_back(IdeaProxy::createWithDoc(doc));
    }
    std::sort(proxies.begin(), proxies.end(),
              [](const IdeaProxyPtr& a, const IdeaProxyPtr& b) { return a->docIdentifier() < b->docIdentifier(); });
    for (auto& proxy : proxies) proxy = withoutDocument(proxy);
    reportProxyList(proxies);
  }
  // A proxy as an engine reads it from an index: no document object yet.
  static IdeaProxyPtr withoutDocument(const IdeaProxyPtr& source) {
    auto proxy = std::make_shared<IdeaProxy>();
    proxy->setDocIdentifier(source->docIdentifier());
    proxy->setIdeaIdentifier(source->ideaIdentifier());
    proxy->setText(source->text());
    proxy->setItemCount(source->itemCount());
    proxy->setIdeaType(source->ideaType());
    proxy->setDateCreated(source->dateCreated());
    proxy->setDateModified(source->dateModified());
    return proxy;
  }

  // ---- PersistenceState
  void leaveState() override {
    mLeft = true;
    mHeld.clear();
  }
  void createDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override {
    count(Op::Create);
    DocumentToken token = 0;
    if (!shouldFail(Op::Create) && doc && !mFiles.contains(doc->docIdentifier())) {
      store(doc);
      token = IdeaDocument::nextToken();
      mTokens[doc->docIdentifier()].insert(token);
    }
    answer([completion, token] { if (completion) completion(token); });
  }
  void openDocument(const std::shared_ptr<IdeaDocument>& doc, TokenCompletion completion) override {
    count(Op::Open);
    DocumentToken token = 0;
    // A document object that is open already keeps its tree; only the first opener reads.
    if (!shouldFail(Op::Open) && doc && mFiles.contains(doc->docIdentifier()) &&
        (heldTokens(doc->docIdentifier()) > 0 || doc->loadFromJSONData(mFiles.value(doc->docIdentifier())))) {
      token = IdeaDocument::nextToken();
      mTokens[doc->docIdentifier()].insert(token);
    }
    answer([completion, token] { if (completion) completion(token); });
  }
  void fetchDocument(const QString& docIdentifier, DocumentCompletion completion) override {
    count(Op::Fetch);
    const bool fail = shouldFail(Op::Fetch) || !mFiles.contains(docIdentifier);
    const QByteArray bytes = fail ? QByteArray() : mFiles.value(docIdentifier);
    auto decode = [docIdentifier, bytes]() -> std::shared_ptr<IdeaDocument> {
      if (bytes.isEmpty()) return nullptr;
      auto doc = IdeaDocument::createWithIdentifier(docIdentifier);
      return doc->loadFromJSONData(bytes) ? doc : nullptr;
    };
    if (!mReadQueue) {
      auto doc = decode();
      answer([completion, doc] { if (completion) completion(doc); });
      return;
    }
    std::weak_ptr<MemoryPersistenceState> weakSelf = weak_from_this();
    mReadQueue->async([weakSelf, decode, completion] {
      auto doc = decode();
      platform::mainQueue().async([weakSelf, completion, doc] {
        auto self = weakSelf.lock();
        if (self && !self->mLeft && completion) completion(doc);
      });
    });
  }
  void updateDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override {
    count(Op::Update);
    bool ok = false;
    if (!shouldFail(Op::Update) && doc && holds(doc->docIdentifier(), token)) {
      store(doc);
      ok = true;
    }
    answer([completion, ok] { if (completion) completion(ok); });
  }
  void deleteDocument(const QString& docIdentifier, BoolCompletion completion) override {
    count(Op::Delete);
    const bool ok = !shouldFail(Op::Delete) && mFiles.remove(docIdentifier) > 0;
    answer([completion, ok] { if (completion) completion(ok); });
  }
  void closeDocument(const std::shared_ptr<IdeaDocument>& doc, DocumentToken token, BoolCompletion completion) override {
    count(Op::Close);
    bool ok = false;
    if (!shouldFail(Op::Close) && doc && holds(doc->docIdentifier(), token)) {
      mTokens[doc->docIdentifier()].erase(token);
      ok = true;
    }
    answer([completion, ok] { if (completion) completion(ok); });
  }
  void saveProxyList(const ProxyList& proxies) override { mSavedLists.push_back(proxies); }
  QString description() const override { return QStringLiteral("MemoryPersistenceState"); }

 private:
  template <class F>
  void tell(F&& report) {
    if (mLeft) return;
    if (auto d = delegate()) report(*d);
  }
  void count(Op op) { ++mCalls[op]; }
  bool shouldFail(Op op) {
    auto it = mFailures.find(op);
    if (it == mFailures.end() || it->second <= 0) return false;
    --it->second;
    return true;
  }
  bool holds(const QString& docIdentifier, DocumentToken token) const {
    auto it = mTokens.find(docIdentifier);
    return it != mTokens.end() && it->second.count(token) > 0;
  }
  void answer(std::function<void()> completion) {
    if (mLeft) return;
    std::weak_ptr<MemoryPersistenceState> weakSelf = weak_from_this();
    auto guarded = [weakSelf, completion = std::move(completion)] {
      auto self = weakSelf.lock();
      if (self && !self->mLeft) completion();
    };
    if (mHold)
      mHeld.push_back(std::move(guarded));
    else if (mDelay > 0)
      platform::mainQueue().afterSeconds(mDelay, std::move(guarded));
    else
      platform::mainQueue().async(std::move(guarded));
  }

  QHash<QString, QByteArray> mFiles;
  std::map<QString, std::set<DocumentToken>> mTokens;
  std::map<Op, int> mFailures;
  std::map<Op, int> mCalls;
  std::vector<ProxyList> mSavedLists;
  std::vector<std::function<void()>> mHeld;
  platform::Queue* mReadQueue = nullptr;
  double mDelay = 0;
  bool mHold = false;
  bool mLeft = false;
};

// The same engine with the iCloud engine's conflict calls, counting them.
class ConflictResolvingMemoryState final : public MemoryPersistenceState, public ConflictResolvingState {
 public:
  std::shared_ptr<platform::FileVersion> findConflictingVersion(const IdeaProxyPtr&) override {
    ++conflictCalls;
    return nullptr;
  }
  void handleConflictForProxy(const IdeaProxyPtr&, ConflictCompletion completion) override {
    ++conflictCalls;
    completion(true, {});
  }
  int conflictCalls = 0;
};

}  // namespace orrery::testing
