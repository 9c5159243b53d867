// Walks over the members of a collection from outside it, through the
// collection's own interfaces.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <unordered_map>
#include <utility>
#include <vector>

#include "log/Err.h"
#include "server/ComPtr.h"
#include "server/InterfaceIds.h"

namespace rv {

// The members as they stand when a walk starts, each asked for under the
// member interface E: a walk that removes members, or that calls code that
// does, still visits every member that was there, once and in collection
// order.
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

// The members by key, the first of each key as the collection's own lookups
// find it: matching two collections then costs one step per member instead
// of a search for each.
template <typename Key, typename E, typename KeyOf>
std::unordered_map<Key, ComPtr<E>> firstByKey(const std::vector<ComPtr<E>> &members, KeyOf &&keyOf) {
  std::unordered_map<Key, ComPtr<E>> index;
  index.reserve(members.size());
  for (const ComPtr<E> &member : members) index.emplace(keyOf(member.get()), member);
  return index;
}

template <typename Node> LONG idOf(Node *node, const Site &site) {
  LONG id = 0;
  raiseIfFailed(site, node->get_ID(&id));
  return id;
}

}  // namespace rv
