// Builds counters and an instance by name, stores integer and double values,
// takes MyBlob as a string and as a byte array, rebuilds fresh nodes from
// each and reads every property back.

function fillCounters(counters) {
  var first = counters.AddNew(1);
  first.Name = "Requests";
  first.Help = "Requests per second";
  first.Value = 42;
  first.DefaultScale = -1;
  first.CounterType = 272696576;
  first.CounterSize = 8;
  first.AutoCalcInstanceTotal = "avg";
  var second = counters.AddNew(2);
  second.Name = "Load";
  second.Value = 2.5;
}

function checkCounters(counters, where) {
  same(counters.Count, 2, where + " count");
  var first = counters.ItemByID(1);
  same(first.Name, "Requests", where + " name");
  same(first.Help, "Requests per second", where + " help");
  same(first.Value, 42, where + " integer value");
  same(first.DefaultScale, -1, where + " scale");
  same(first.CounterType, 272696576, where + " type");
  same(first.CounterSize, 8, where + " size");
  same(first.AutoCalcInstanceTotal, "avg", where + " keyword");
  var second = counters.ItemByName("LOAD");
  check(second != null, where + " found by name");
  same(second.Value, 2.5, where + " double value");
  same(second.Help, "", where + " unset help");
  same(second.AutoCalcInstanceTotal, "no_calc", where + " default keyword");
  same(counters.Item(1).ID, 1, where + " first position");
}

function run() {
  var counters = create("PerfCounters");
  fillCounters(counters);
  checkCounters(counters, "original");

  var asString = counters.MyBlob(1);
  same(typeof asString, "string", "blob as a string");
  same(asString.charCodeAt(0), 4, "token");
  same(asString.charCodeAt(2), asString.length * 2, "cursor at the end");
  // Wine's script engine hands a byte array on untouched but cannot look
  // inside it, so the array form is checked by the round trip alone.
  var asArray = counters.MyBlob(0);

  var fromString = create("PerfCounters");
  fromString.MyBlob = asString;
  checkCounters(fromString, "from the string");
  var fromArray = create("PerfCounters");
  fromArray.MyBlob = asArray;
  checkCounters(fromArray, "from the array");

  var instance = create("PerfInstance");
  instance.ID = 9;
  instance.Name = "worker 1";
  instance.TimeStamp = 45000.25;
  fillCounters(instance.PerfCounters);
  var copy = create("PerfInstance");
  copy.MyBlob = instance.MyBlob(1);
  same(copy.ID, 9, "instance ID");
  same(copy.Name, "worker 1", "instance name");
  // A DATE reaches the script as a Date object.
  same(new Date(copy.TimeStamp).getTime(), new Date(instance.TimeStamp).getTime(), "instance time stamp");
  checkCounters(copy.PerfCounters, "instance counters");
  var clone = create("PerfInstance");
  clone.CopyFrom(instance);
  same(clone.Name, "worker 1", "copied instance");

  try {
    counters.Item(1).Value = "text";
    check(false, "a string value was accepted");
  } catch (e) {
    same(e.number, -2147024809, "invalid value type");
    same(e.description, "Invalid counter type. Type must be a Variant Long, Double, or an Array of Bytes.", "its text");
  }
  try {
    fromString.Remove(5);
    check(false, "Remove out of range accepted");
  } catch (e) {
    same(e.description, "Index out of bounds.", "Remove out of range");
  }
  var count = 0;
  for (var items = new Enumerator(counters); !items.atEnd(); items.moveNext()) count++;
  same(count, 2, "enumeration");
}

finish();
