// "transfer.Schedule": three steps without arguments.
#include "engine/engine_interfaces.h"
#include "tests/test_engine/dual_object.h"
#include "tests/test_engine/engine_classes.h"

namespace {

class Schedule final : public DualObject<ISchedule> {
 public:
  Schedule() : DualObject(L"Schedule", IID_ISchedule) {}

  HRESULT STDMETHODCALLTYPE StartupStep1() override { return Plain(L"StartupStep1"); }
  HRESULT STDMETHODCALLTYPE StartupStep2() override { return Plain(L"StartupStep2"); }
  HRESULT STDMETHODCALLTYPE ShutdownStep() override { return Plain(L"ShutdownStep"); }
};

}  // namespace

HRESULT CreateSchedule(REFIID riid, void** out, uint32_t* instance) {
  return CreateEngineObject<Schedule>(riid, out, instance);
}
