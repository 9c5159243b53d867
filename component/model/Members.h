// The members of a collection as they stand when a walk starts, each asked
// for under the member interface E: a walk that removes members, or that
// calls code that does, still visits every member that was there, once and
// in collection order.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <utility>
#include <vector>

#include "log/Err.h"
#include "server/ComPtr.h"
#include "server/InterfaceIds.h"

namespace rv {

template <typename E, typename Collection> std::vector<ComPtr<E>> membersOf(Collection *collection, const Site &site) {
  ComPtr<IUnknown> enumerator;
  raiseIfFailed(site, collection->get__NewEnum(enumerator.put()));
  ComPtr<IEnumVARIANT> items;
  raiseIfFailed(site, enumerator.query(IID_IEnumVARIANT, items));
  LONG count = 0;
  raiseIfFailed(site, collection->get_Count(&count));
  std::vector<ComPtr<E>> members;
  members.reserve(static_cast<size_t>(count > 0 ? count : 0));
  for (;;) {
    Variant item;
    ULONG fetched = 0;
    const HRESULT hr = raiseIfFailed(site, items->Next(1, item.put(), &fetched));
    if (hr != S_OK || fetched != 1) break;
    if (V_VT(item.get()) != VT_DISPATCH || V_DISPATCH(item.get()) == nullptr) raiseNullPointer(site);
    ComPtr<E> member;
    raiseIfFailed(site, V_DISPATCH(item.get())->QueryInterface(iidOf<E>(), member.putVoid()));
    members.push_back(std::move(member));
  }
  return members;
}

}  // namespace rv
