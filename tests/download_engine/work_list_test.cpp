// The work list against a plain vector doing the same operations: after every
// insertion, removal, move and change of file name, every look-up answers what
// a walk over the vector answers. And the file index's key never separates two
// names that the engine's comparison of file names calls the same.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>

#include "download_engine/text.h"
#include "download_engine/work_list.h"

namespace {

using namespace engine;

std::unique_ptr<Task> NewTask(uint64_t id, const std::wstring& key, const std::wstring& folder,
                              const std::wstring& name) {
  auto task = std::make_unique<Task>();
  task->id = id;
  task->key = key;
  task->folder = folder;
  task->fileName = name;
  return task;
}

// What the list must answer, found the slow way.
struct Model {
  std::vector<Task*> order;
  size_t IndexOf(const Task* task) const { return std::find(order.begin(), order.end(), task) - order.begin(); }
  Task* Find(const std::wstring& key) const {
    for (Task* task : order)
      if (task->key == key) return task;
    return nullptr;
  }
  bool Taken(const Task* self, const std::wstring& folder, const std::wstring& name) const {
    for (Task* task : order)
      if (task != self && !task->fileName.empty() && SameFileName(task->folder, folder) &&
          SameFileName(task->fileName, name))
        return true;
    return false;
  }
};

void ExpectSame(const WorkList& list, const Model& model, const std::vector<std::wstring>& names, int step) {
  ASSERT_EQ(model.order.size(), list.Size()) << "step " << step;
  ASSERT_EQ(model.order, list.InOrder()) << "step " << step;
  for (size_t i = 0; i < model.order.size(); ++i) {
    ASSERT_EQ(i, list.PositionOf(*model.order[i])) << "step " << step;
    ASSERT_EQ(model.order[i], list.At(i)) << "step " << step;
    ASSERT_EQ(model.order[i], list.FindId(model.order[i]->id)) << "step " << step;
  }
  for (int k = 0; k < 40; ++k) {
    std::wstring key = L"k" + std::to_wstring(k);
    ASSERT_EQ(model.Find(key), list.Find(key)) << "step " << step << " key " << k;
  }
  const Task* self = model.order.empty() ? nullptr : model.order.front();
  for (const auto& folder : {L"C:\\Downloads", L"c:\\DOWNLOADS", L"C:\\Other"})
    for (const auto& name : names) {
      ASSERT_EQ(model.Taken(nullptr, folder, name), list.TargetTaken(nullptr, folder, name)) << "step " << step;
      ASSERT_EQ(model.Taken(self, folder, name), list.TargetTaken(self, folder, name)) << "step " << step;
    }
}

TEST(WorkList, EveryLookUpAnswersAsAWalkOverTheListWouldAfterAnyMixOfChanges) {
  // Keys repeat on purpose (a hand-edited journal): the first in the queue answers.
  const std::vector<std::wstring> names = {L"a.bin", L"A.BIN", L"b.bin", L"\x00e9t\x00e9.txt", L"\x00c9T\x00c9.TXT",
                                           L""};
  for (unsigned seed : {1u, 7u, 42u}) {
    std::mt19937 random(seed);
    WorkList list;
    Model model;
    uint64_t nextId = 1;
    for (int step = 0; step < 600; ++step) {
      int what = static_cast<int>(random() % 10);
      size_t size = model.order.size();
      if (what < 4 || size == 0) {
        size_t at = random() % (size + 2);  // beyond the end too
        auto task = NewTask(nextId++, L"k" + std::to_wstring(random() % 40), random() % 2 ? L"C:\\Downloads" : L"C:\\Other",
                            names[random() % names.size()]);
        Task* added = list.Insert(std::move(task), at);
        model.order.insert(model.order.begin() + static_cast<long>(std::min(at, size)), added);
      } else if (what < 6) {
        Task* task = model.order[random() % size];
        std::unique_ptr<Task> removed = list.Remove(task);
        ASSERT_EQ(task, removed.get());
        model.order.erase(model.order.begin() + static_cast<long>(model.IndexOf(task)));
        ASSERT_EQ(nullptr, list.FindId(task->id));
      } else if (what < 8) {
        Task* task = model.order[random() % size];
        size_t to = random() % 300;  // a page's position: up to 255, beyond the end means last
        list.MoveTo(task, to);
        model.order.erase(model.order.begin() + static_cast<long>(model.IndexOf(task)));
        model.order.insert(model.order.begin() + static_cast<long>(std::min(to, model.order.size())), task);
      } else {
        Task* task = model.order[random() % size];
        task->fileName = names[random() % names.size()];
        if (random() % 3 == 0) task->folder = L"c:\\downloads";
        list.Retarget(task);
      }
      ExpectSame(list, model, names, step);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(WorkList, TheFileIndexKeyNeverSeparatesNamesTheComparisonCallsEqual) {
  // Every UTF-16 unit beside its upper and lower case by every mapping at hand:
  // where the engine's comparison says equal, the index must file both together.
  for (unsigned unit = 1; unit < 0x10000; ++unit) {
    if (unit >= 0xD800 && unit < 0xE000) continue;  // a lone surrogate is no name
    std::wstring one(1, static_cast<wchar_t>(unit));
    std::vector<std::wstring> others = {std::wstring(1, static_cast<wchar_t>(towupper(unit))),
                                        std::wstring(1, static_cast<wchar_t>(towlower(unit)))};
    std::wstring upper = one, lower = one;
    CharUpperBuffW(&upper[0], 1);
    CharLowerBuffW(&lower[0], 1);
    others.push_back(upper);
    others.push_back(lower);
    for (const auto& other : others) {
      if (SameFileName(one, other)) {
        ASSERT_EQ(FileNameKey(one), FileNameKey(other)) << "unit " << std::hex << unit;
      }
    }
  }
}

}  // namespace
