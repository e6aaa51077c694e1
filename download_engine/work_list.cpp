#include "download_engine/work_list.h"

#include <windows.h>

#include <algorithm>

#include "download_engine/text.h"

namespace engine {

namespace {

using UpcaseChar = WCHAR(WINAPI*)(WCHAR);

// The table SameFileName's comparison (CompareStringOrdinal, ignoring case)
// upper-cases by; the user's locale plays no part in it.
UpcaseChar SystemUpcase() {
  static UpcaseChar upcase = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<UpcaseChar>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlUpcaseUnicodeChar")))
                 : nullptr;
  }();
  return upcase;
}

}  // namespace

std::wstring FileNameKey(const std::wstring& text) {
  UpcaseChar upcase = SystemUpcase();
  if (!upcase) return UpperCase(text);
  std::wstring key(text);
  for (auto& unit : key) unit = upcase(unit);
  return key;
}

struct WorkList::Node {
  std::unique_ptr<Task> task;
  Node* left = nullptr;
  Node* right = nullptr;
  Node* parent = nullptr;
  uint32_t priority = 0;
  size_t size = 1;
  std::wstring target;  // the file index's key; empty while the task has no file name
};

WorkList::~WorkList() { Clear(); }

size_t WorkList::SizeOf(const Node* node) { return node ? node->size : 0; }

void WorkList::Update(Node* node) {
  node->size = 1 + SizeOf(node->left) + SizeOf(node->right);
  if (node->left) node->left->parent = node;
  if (node->right) node->right->parent = node;
}

WorkList::Node* WorkList::Merge(Node* left, Node* right) {
  if (!left) return right;
  if (!right) return left;
  if (left->priority > right->priority) {
    left->right = Merge(left->right, right);
    Update(left);
    return left;
  }
  right->left = Merge(left, right->left);
  Update(right);
  return right;
}

// The first count nodes in order go left, the rest right.
void WorkList::Split(Node* node, size_t count, Node** left, Node** right) {
  if (!node) {
    *left = *right = nullptr;
    return;
  }
  node->parent = nullptr;
  if (SizeOf(node->left) < count) {
    Node* rest = nullptr;
    Split(node->right, count - SizeOf(node->left) - 1, &rest, right);
    node->right = rest;
    Update(node);
    *left = node;
  } else {
    Node* first = nullptr;
    Split(node->left, count, left, &first);
    node->left = first;
    Update(node);
    *right = node;
  }
  if (*left) (*left)->parent = nullptr;
  if (*right) (*right)->parent = nullptr;
}

size_t WorkList::Size() const { return SizeOf(root_); }

WorkList::Node* WorkList::NodeOf(const Task& task) const {
  auto found = byId_.find(task.id);
  return found != byId_.end() && found->second->task.get() == &task ? found->second : nullptr;
}

Task* WorkList::Find(const std::wstring& key) const {
  auto found = byKey_.find(key);
  if (found == byKey_.end() || found->second.empty()) return nullptr;
  // One task per key is the rule; a journal edited by hand may hold more, and
  // then the first in the queue answers, as a walk from the front would.
  const Node* first = found->second.front();
  for (const Node* node : found->second)
    if (PositionOf(*node->task) < PositionOf(*first->task)) first = node;
  return first->task.get();
}

Task* WorkList::FindId(uint64_t id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : found->second->task.get();
}

size_t WorkList::PositionOf(const Task& task) const {
  const Node* node = NodeOf(task);
  if (!node) return Size();
  size_t position = SizeOf(node->left);
  for (; node->parent; node = node->parent)
    if (node == node->parent->right) position += SizeOf(node->parent->left) + 1;
  return position;
}

Task* WorkList::At(size_t position) const {
  const Node* node = root_;
  while (node) {
    size_t before = SizeOf(node->left);
    if (position < before) {
      node = node->left;
    } else if (position == before) {
      return node->task.get();
    } else {
      position -= before + 1;
      node = node->right;
    }
  }
  return nullptr;
}

Task* WorkList::Insert(std::unique_ptr<Task> task, size_t position) {
  Node* node = new Node();
  node->task = std::move(task);
  // xorshift: the tree's balance needs priorities that look random, not secret ones.
  seed_ ^= seed_ << 13;
  seed_ ^= seed_ >> 17;
  seed_ ^= seed_ << 5;
  node->priority = seed_;
  Node *left = nullptr, *right = nullptr;
  Split(root_, std::min(position, Size()), &left, &right);
  root_ = Merge(Merge(left, node), right);
  root_->parent = nullptr;
  // Ids are unique: the engine gives a task with a used id a new one before it comes here.
  byId_[node->task->id] = node;
  byKey_[node->task->key].push_back(node);
  Index(node);
  return node->task.get();
}

std::unique_ptr<Task> WorkList::Remove(Task* task) {
  Node* node = NodeOf(*task);
  if (!node) return nullptr;
  size_t position = PositionOf(*task);
  Node *left = nullptr, *middle = nullptr, *right = nullptr, *rest = nullptr;
  Split(root_, position, &left, &rest);
  Split(rest, 1, &middle, &right);
  root_ = Merge(left, right);
  if (root_) root_->parent = nullptr;
  Unindex(node);
  byId_.erase(task->id);
  auto& sameKey = byKey_[task->key];
  sameKey.erase(std::find(sameKey.begin(), sameKey.end(), node));
  if (sameKey.empty()) byKey_.erase(task->key);
  std::unique_ptr<Task> owned = std::move(node->task);
  delete node;
  return owned;
}

void WorkList::MoveTo(Task* task, size_t position) {
  Node* node = NodeOf(*task);
  if (!node) return;
  size_t from = PositionOf(*task);
  Node *left = nullptr, *middle = nullptr, *right = nullptr, *rest = nullptr;
  Split(root_, from, &left, &rest);
  Split(rest, 1, &middle, &right);
  root_ = Merge(left, right);
  Split(root_, std::min(position, SizeOf(root_)), &left, &right);
  root_ = Merge(Merge(left, middle), right);
  root_->parent = nullptr;
}

void WorkList::Clear() {
  // Without recursion: the tree's depth is small, but nothing here needs it to be.
  std::vector<Node*> pending;
  if (root_) pending.push_back(root_);
  while (!pending.empty()) {
    Node* node = pending.back();
    pending.pop_back();
    if (node->left) pending.push_back(node->left);
    if (node->right) pending.push_back(node->right);
    delete node;
  }
  root_ = nullptr;
  byId_.clear();
  byKey_.clear();
  byTarget_.clear();
}

void WorkList::Unindex(Node* node) {
  if (node->target.empty()) return;
  auto found = byTarget_.find(node->target);
  if (found != byTarget_.end()) {
    auto& nodes = found->second;
    nodes.erase(std::remove(nodes.begin(), nodes.end(), node), nodes.end());
    if (nodes.empty()) byTarget_.erase(found);
  }
  node->target.clear();
}

void WorkList::Index(Node* node) {
  const Task& task = *node->task;
  if (task.fileName.empty()) return;
  // A tab never appears in a checked folder or name; a clash of two keys would
  // only cost a comparison, which TargetTaken makes anyway.
  node->target = FileNameKey(task.folder) + L"\t" + FileNameKey(task.fileName);
  byTarget_[node->target].push_back(node);
}

void WorkList::Retarget(Task* task) {
  Node* node = NodeOf(*task);
  if (!node) return;
  Unindex(node);
  Index(node);
}

bool WorkList::TargetTaken(const Task* self, const std::wstring& folder, const std::wstring& name) const {
  if (name.empty()) return false;
  auto found = byTarget_.find(FileNameKey(folder) + L"\t" + FileNameKey(name));
  if (found == byTarget_.end()) return false;
  for (const Node* node : found->second) {
    const Task& other = *node->task;
    if (&other == self || other.fileName.empty()) continue;
    if (SameFileName(other.folder, folder) && SameFileName(other.fileName, name)) return true;
  }
  return false;
}

std::vector<Task*> WorkList::InOrder() const {
  std::vector<Task*> tasks;
  tasks.reserve(Size());
  std::vector<Node*> path;
  Node* node = root_;
  while (node || !path.empty()) {
    while (node) {
      path.push_back(node);
      node = node->left;
    }
    node = path.back();
    path.pop_back();
    tasks.push_back(node->task.get());
    node = node->right;
  }
  return tasks;
}

}  // namespace engine
