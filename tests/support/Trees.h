// Builds and reads object trees through the component's interfaces, for the
// tests of objects, totals, the manager and whole-tree blobs: values are
// handed over and read back as short texts ("I4:7", "R8:1.25", "EMPTY",
// "BYTES:3", "ERROR:8007000E"), so that a table states what each counter
// must hold.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ComponentFixture.h"

namespace trees {

// A variant of the kind a text names; the caller clears it.
inline VARIANT valueFrom(const std::string &text) {
  VARIANT value;
  VariantInit(&value);
  if (text.rfind("I4:", 0) == 0) {
    V_VT(&value) = VT_I4;
    V_I4(&value) = static_cast<LONG>(std::strtoll(text.c_str() + 3, nullptr, 10));
  } else if (text.rfind("R8:", 0) == 0) {
    V_VT(&value) = VT_R8;
    V_R8(&value) = std::strtod(text.c_str() + 3, nullptr);
  } else if (text.rfind("BYTES:", 0) == 0) {
    const ULONG count = static_cast<ULONG>(std::strtoul(text.c_str() + 6, nullptr, 10));
    V_VT(&value) = VT_ARRAY | VT_UI1;
    V_ARRAY(&value) = SafeArrayCreateVector(VT_UI1, 0, count);
  }
  return value;
}

inline std::string textOf(const VARIANT &value) {
  char buffer[64];
  switch (V_VT(&value)) {
    case VT_EMPTY: return "EMPTY";
    case VT_I4: std::snprintf(buffer, sizeof buffer, "I4:%d", static_cast<int>(V_I4(&value))); return buffer;
    case VT_R8: std::snprintf(buffer, sizeof buffer, "R8:%.17g", V_R8(&value)); return buffer;
    case VT_ARRAY | VT_UI1: return "BYTES:" + std::to_string(V_ARRAY(&value)->rgsabound[0].cElements);
    case VT_ERROR:
      std::snprintf(buffer, sizeof buffer, "ERROR:%08X", static_cast<unsigned>(V_ERROR(&value)));
      return buffer;
    default: return "VT:" + std::to_string(V_VT(&value));
  }
}

inline void setValue(IPerfCounter *counter, const std::string &text) {
  VARIANT value = valueFrom(text);
  EXPECT_EQ(S_OK, counter->put_Value(value)) << text;
  VariantClear(&value);
}

inline std::string valueOf(IPerfCounter *counter) {
  VARIANT value;
  VariantInit(&value);
  if (counter == nullptr || counter->get_Value(&value) != S_OK) return "<no counter>";
  std::string text = textOf(value);
  VariantClear(&value);
  return text;
}

// The collections a node holds, lent: the node keeps them.
template <typename Node> IPerfCounters *countersOf(Node *node) {
  Ref<IPerfCounters> counters;
  node->get_PerfCounters(counters.put());
  return counters.p;
}
inline IPerfInstances *instancesOf(IPerfObject *object) {
  Ref<IPerfInstances> instances;
  object->get_PerfInstances(instances.put());
  return instances.p;
}
inline IPerfObjects *objectsOf(IPerfMgr *manager) {
  Ref<IPerfObjects> objects;
  manager->get_PerfObjects(objects.put());
  return objects.p;
}

// A new counter at the end of `counters`; the collection holds it.
inline IPerfCounter *addCounter(IPerfCounters *counters, LONG id, const std::string &name,
                                const std::string &keyword = "no_calc", const std::string &value = "EMPTY") {
  Ref<IPerfCounter> counter;
  EXPECT_EQ(S_OK, counters->AddNew(id, counter.put()));
  TestBstr nameText(name), keywordText(keyword);
  counter->put_Name(nameText.value);
  counter->put_AutoCalcInstanceTotal(keywordText.value);
  if (value != "EMPTY") setValue(counter.p, value);
  return counter.p;
}

// A new object at the end of `objects`; the collection holds it. Both flags
// are stored as automation truth values.
inline IPerfObject *addObject(IPerfObjects *objects, LONG id, const std::string &name, bool hasInstances,
                              bool keepsTotal, LONG timeout = 0) {
  Ref<IPerfObject> object;
  EXPECT_EQ(S_OK, objects->AddNew(id, object.put()));
  TestBstr nameText(name);
  object->put_Name(nameText.value);
  object->put_HasInstances(hasInstances ? VARIANT_TRUE : VARIANT_FALSE);
  object->put_AutoCreateInstanceTotal(keepsTotal ? VARIANT_TRUE : VARIANT_FALSE);
  object->put_InstanceTimeout(timeout);
  return object.p;
}

// The instance of that name, made by CreateInstance (held by the object).
inline IPerfInstance *instance(IPerfObject *object, const std::string &name) {
  Ref<IPerfInstance> made;
  TestBstr text(name);
  EXPECT_EQ(S_OK, object->CreateInstance(text.value, made.put())) << name;
  return made.p;
}

// The first counter of an instance or an object's template with that ID.
template <typename Node> IPerfCounter *counter(Node *node, LONG id) {
  Ref<IPerfCounter> found;
  countersOf(node)->get_ItemByID(id, found.put());
  return found.p;
}

template <typename Node> std::string valueOf(Node *node, LONG id) { return valueOf(counter(node, id)); }

template <typename Collection> LONG countOf(Collection *collection) {
  LONG count = -1;
  collection->get_Count(&count);
  return count;
}

// Every property of every node below a manager, one line each, in tree
// order: two trees are the same exactly when their dumps are.
inline std::string dump(IPerfMgr *manager) {
  std::string out;
  auto line = [&](const std::string &text) { out += text + "\n"; };
  LONG id = 0, polling = 0;
  manager->get_ID(&id);
  manager->get_InstanceCleannupPolling(&polling);
  line("manager " + std::to_string(id) + " " + readText([&](BSTR *t) { return manager->get_DeviceName(t); }) + " " +
       std::to_string(polling));
  auto counters = [&](IPerfCounters *list, const std::string &indent) {
    for (LONG i = 1; i <= countOf(list); ++i) {
      Ref<IPerfCounter> c;
      list->get_Item(i, c.put());
      LONG cid = 0, scale = 0, type = 0, size = 0;
      c->get_ID(&cid);
      c->get_DefaultScale(&scale);
      c->get_CounterType(&type);
      c->get_CounterSize(&size);
      line(indent + "counter " + std::to_string(cid) + " " + readText([&](BSTR *t) { return c->get_Name(t); }) + " [" +
           readText([&](BSTR *t) { return c->get_Help(t); }) + "] " + valueOf(c.p) + " " + std::to_string(scale) + " " +
           std::to_string(type) + " " + std::to_string(size) + " " +
           readText([&](BSTR *t) { return c->get_AutoCalcInstanceTotal(t); }));
    }
  };
  IPerfObjects *objects = objectsOf(manager);
  for (LONG i = 1; i <= countOf(objects); ++i) {
    Ref<IPerfObject> o;
    objects->get_Item(i, o.put());
    LONG oid = 0, timeout = 0;
    VARIANT_BOOL has = 0, total = 0;
    o->get_ID(&oid);
    o->get_InstanceTimeout(&timeout);
    o->get_HasInstances(&has);
    o->get_AutoCreateInstanceTotal(&total);
    line(" object " + std::to_string(oid) + " " + readText([&](BSTR *t) { return o->get_Name(t); }) + " [" +
         readText([&](BSTR *t) { return o->get_Help(t); }) + "] " + std::to_string(timeout) + " " +
         std::to_string(has) + " " + std::to_string(total));
    counters(countersOf(o.p), "  ");
    IPerfInstances *instances = instancesOf(o.p);
    for (LONG j = 1; j <= countOf(instances); ++j) {
      Ref<IPerfInstance> in;
      instances->get_Item(j, in.put());
      LONG iid = 0;
      DATE stamp = 0;
      in->get_ID(&iid);
      in->get_TimeStamp(&stamp);
      char when[32];
      std::snprintf(when, sizeof when, "%.17g", stamp);
      line("  instance " + std::to_string(iid) + " " + readText([&](BSTR *t) { return in->get_Name(t); }) + " " + when);
      counters(countersOf(in.p), "   ");
    }
  }
  return out;
}

// Blobs as bytes: the little-endian fields a test spells out, and a node's
// blob taken and given through MyBlob as a byte array.
using Bytes = std::vector<BYTE>;

inline Bytes operator+(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes le32(LONG v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }

// A text field: its byte count with the terminator, then UTF-16LE; a null
// text is a count of 0.
inline Bytes str(const std::string &text) {
  if (text == "<null>") return le32(0);
  Bytes out = le32(static_cast<LONG>(text.size() * 2 + 2));
  for (char c : text) out = out + Bytes{static_cast<BYTE>(c), 0};
  return out + Bytes{0, 0};
}

// The blob of a manager without objects: token, cursor, ID, device name,
// polling period and an object count of 0.
inline Bytes managerBlob(LONG id, const std::string &device, LONG polling = 900) {
  return le32(4) + le32(0) + le32(id) + str(device) + le32(polling) + le32(0);
}

inline Bytes bytesOf(const VARIANT &blob) {
  if (V_VT(&blob) != (VT_ARRAY | VT_UI1)) return {};
  const BYTE *data = static_cast<const BYTE *>(V_ARRAY(&blob)->pvData);
  return Bytes(data, data + V_ARRAY(&blob)->rgsabound[0].cElements);
}

// A byte array of its own for every read: reading moves the cursor inside it.
inline VARIANT arrayOf(const Bytes &bytes) {
  VARIANT blob;
  VariantInit(&blob);
  V_VT(&blob) = VT_ARRAY | VT_UI1;
  V_ARRAY(&blob) = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) std::memcpy(V_ARRAY(&blob)->pvData, bytes.data(), bytes.size());
  return blob;
}

template <typename Node> Bytes blobOf(Node *node) {
  VARIANT blob;
  VariantInit(&blob);
  EXPECT_EQ(S_OK, node->get_MyBlob(btAsBinaryArray, &blob));
  const Bytes bytes = bytesOf(blob);
  VariantClear(&blob);
  return bytes;
}

template <typename Node> HRESULT putBlob(Node *node, const Bytes &bytes) {
  VARIANT blob = arrayOf(bytes);
  const HRESULT hr = node->put_MyBlob(btAsBinaryArray, blob);
  VariantClear(&blob);
  return hr;
}

// A tree of two objects under `manager`: one with instances and a
// calculated _Total (integer, double, byte-array and untotalled counters),
// one without instances. Stamps and values are fixed, so its blob is too.
inline void buildSample(IPerfMgr *manager) {
  IPerfObjects *objects = objectsOf(manager);
  IPerfObject *requests = addObject(objects, 2, "Requests", true, true, 60);
  TestBstr help("Requests the server handled");
  requests->put_Help(help.value);
  IPerfCounters *tmpl = countersOf(requests);
  IPerfCounter *handled = addCounter(tmpl, 4, "Handled", "no_calc");
  handled->put_CounterType(272696576);
  handled->put_DefaultScale(-1);
  handled->put_Help(help.value);
  addCounter(tmpl, 6, "Latency", "avg")->put_CounterSize(8);
  addCounter(tmpl, 8, "Payload", "no_cacl");
  const char *names[] = {"alpha", "beta"};
  for (int i = 0; i < 2; ++i) {
    IPerfInstance *in = instance(requests, names[i]);
    in->put_TimeStamp(46000.5 + i * 0.25);
    setValue(counter(in, 4), "I4:" + std::to_string(100 + i));
    setValue(counter(in, 6), "R8:" + std::to_string(0.5 + i));
    setValue(counter(in, 8), "BYTES:" + std::to_string(3 + i));
  }
  IPerfCounters *memory = countersOf(addObject(objects, 10, "Memory", false, false));
  addCounter(memory, 12, "Used", "no_calc", "R8:1536.25");
  addCounter(memory, 14, "Free", "no_calc", "I4:-1");
  EXPECT_EQ(S_OK, manager->CreateTotalInstances());
  EXPECT_EQ(S_OK, manager->CalcTotalInstances());
}

}  // namespace trees
