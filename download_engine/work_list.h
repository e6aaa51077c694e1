// The work list: the engine's working tasks in queue order, with what finds
// them without walking the list. A task is found by its key, by its id and by
// the file it writes (folder and name, compared as Windows compares file
// names); its place in the queue, an insertion, a removal and a move take a
// time that grows with the logarithm of the list's length, not the length.
//
// The order is kept in a balanced tree (a treap ordered by position, each node
// knowing the size of its subtree and its parent), so a task's position is
// counted on the way up from its node.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "download_engine/task.h"

namespace engine {

class WorkList {
 public:
  WorkList() = default;
  WorkList(const WorkList&) = delete;
  WorkList& operator=(const WorkList&) = delete;
  ~WorkList();

  size_t Size() const;
  bool Empty() const { return root_ == nullptr; }

  // The first task in queue order with this key (normalised as tasks keep
  // it); null when there is none.
  Task* Find(const std::wstring& key) const;
  Task* FindId(uint64_t id) const;
  // The task's place in the queue, 0 first. The task must be in the list.
  size_t PositionOf(const Task& task) const;
  Task* At(size_t position) const;

  // At that place (beyond the end: last). The list owns the task from now.
  Task* Insert(std::unique_ptr<Task> task, size_t position);
  Task* Append(std::unique_ptr<Task> task) { return Insert(std::move(task), Size()); }
  std::unique_ptr<Task> Remove(Task* task);
  void MoveTo(Task* task, size_t position);
  void Clear();

  // The task's folder or file name changed: the file index follows. Every
  // change of either goes through here.
  void Retarget(Task* task);
  // Another task (not self) writes that file name in that folder.
  bool TargetTaken(const Task* self, const std::wstring& folder, const std::wstring& name) const;

  // Queue order; for the few things that look at every task (a session's
  // start and end, the periodic sampling, the listing for a page).
  std::vector<Task*> InOrder() const;

 private:
  struct Node;
  static size_t SizeOf(const Node* node);
  static void Update(Node* node);
  static Node* Merge(Node* left, Node* right);
  static void Split(Node* node, size_t count, Node** left, Node** right);
  Node* NodeOf(const Task& task) const;
  void Unindex(Node* node);
  void Index(Node* node);

  Node* root_ = nullptr;
  uint32_t seed_ = 2463534242u;
  std::unordered_map<uint64_t, Node*> byId_;
  std::unordered_map<std::wstring, std::vector<Node*>> byKey_;
  std::unordered_map<std::wstring, std::vector<Node*>> byTarget_;
};

// The key under which a file name is indexed: equal for any two names that
// SameFileName calls equal (each UTF-16 unit upper-cased by the system's own
// table, as its comparison does).
std::wstring FileNameKey(const std::wstring& text);

}  // namespace engine
