#include "sdk/analytics/ana_event_inbox.h"

#include <algorithm>
#include <utility>

#include "sdk/analytics/ana_recording_arena.h"

namespace telemetry {

namespace {
// Nodes come from the recording thread's arena, so a backlog does not fault in fresh heap.
template <class Node>
void destroy(Node* node) {
  node->~Node();
  ANARecordingArena::deallocate(node);
}
}  // namespace

ANAEventInbox::~ANAEventInbox() {
  Node* node = mHead.load(std::memory_order_acquire);
  while (node && node != draining()) destroy(std::exchange(node, node->next));
}

bool ANAEventInbox::push(Entry entry) {
  Node* node = new (ANARecordingArena::allocate(sizeof(Node))) Node{std::move(entry), nullptr};
  Node* head = mHead.load(std::memory_order_relaxed);
  do {
    node->next = head == draining() ? nullptr : head;
  } while (!mHead.compare_exchange_weak(head, node, std::memory_order_release, std::memory_order_relaxed));
  return head == nullptr;
}

std::vector<ANAEventInbox::Entry> ANAEventInbox::take() {
  Node* node = mHead.exchange(draining(), std::memory_order_acquire);
  std::vector<Entry> entries;
  for (; node && node != draining(); destroy(std::exchange(node, node->next))) entries.push_back(std::move(node->entry));
  std::reverse(entries.begin(), entries.end());
  return entries;
}

bool ANAEventInbox::finishDrain() {
  Node* expected = draining();
  return mHead.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel, std::memory_order_relaxed);
}

}  // namespace telemetry
