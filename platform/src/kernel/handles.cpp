#include "handles.h"

#include <mutex>
#include <vector>

namespace platform::kernel {

namespace {

// Handle values stay below 2^24, as Windows' do in practice.
constexpr size_t MaxHandles = (1u << 22) - 1;

struct HandleTable {
  std::mutex lock;
  std::vector<std::shared_ptr<KernelObject>> slots;
  std::vector<size_t> freeSlots;
};

HandleTable &table() {
  static HandleTable *handles = new HandleTable;  // outlives static destructors that close handles
  return *handles;
}

bool slotOf(HANDLE handle, size_t *slot) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value % 4 != 0 || value / 4 > MaxHandles) return false;
  *slot = value / 4 - 1;
  return true;
}

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable &handles = table();
  std::lock_guard<std::mutex> guard(handles.lock);
  size_t slot;
  if (!handles.freeSlots.empty()) {
    slot = handles.freeSlots.back();
    handles.freeSlots.pop_back();
    handles.slots[slot] = std::move(object);
  } else if (handles.slots.size() < MaxHandles) {
    slot = handles.slots.size();
    handles.slots.push_back(std::move(object));
  } else {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return reinterpret_cast<HANDLE>((slot + 1) * 4);
}

std::shared_ptr<KernelObject> anyObjectOf(HANDLE handle) {
  size_t slot;
  if (!slotOf(handle, &slot)) return nullptr;
  HandleTable &handles = table();
  std::lock_guard<std::mutex> guard(handles.lock);
  return slot < handles.slots.size() ? handles.slots[slot] : nullptr;
}

}  // namespace platform::kernel

BOOL WINAPI CloseHandle(HANDLE hObject) {
  using namespace platform::kernel;
  // The pseudo-handle of the current process needs no closing.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  size_t slot;
  std::shared_ptr<KernelObject> closed;
  if (slotOf(hObject, &slot)) {
    HandleTable &handles = table();
    std::lock_guard<std::mutex> guard(handles.lock);
    if (slot < handles.slots.size() && handles.slots[slot]) {
      closed = std::move(handles.slots[slot]);
      handles.slots[slot].reset();
      handles.freeSlots.push_back(slot);
    }
  }
  if (!closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The object goes outside the table's lock: releasing a file may wait for
  // its share record.
  closed.reset();
  return TRUE;
}
