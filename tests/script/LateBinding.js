// The component as a scripting host reaches it: every class by ProgID,
// members called by name, optional arguments left out, collections walked
// with an Enumerator, errors as error objects with their descriptions, and a
// tree through MyBlob as a string and as a byte array.
function fill(counters) {
  var first = counters.AddNew(1);
  first.Name = "Requests";
  first.Value = 42;
  first.AutoCalcInstanceTotal = "avg";
  counters.AddNew(2).Value = 2.5;
}

function checkCounters(counters, where) {
  same(counters.Count, 2, where + " count");
  var first = counters.ItemByName("REQUESTS");
  same(first.ID, 1, where + " found by name");
  same(first.Value, 42, where + " integer value");
  same(first.AutoCalcInstanceTotal, "avg", where + " keyword");
  same(counters.ItemByID(2).Value, 2.5, where + " double value");
  same(counters.Item(2).AutoCalcInstanceTotal, "no_calc", where + " default keyword");
}

function run() {
  var classes = ["PerfCounter", "PerfObject", "PerfCounters", "PerfObjects", "PerfMgr", "PerfInstance", "PerfInstances"];
  for (var i = 0; i < classes.length; i++) check(create(classes[i]) != null, classes[i] + " created");

  var counters = create("PerfCounters");
  fill(counters);
  checkCounters(counters, "original");
  same(counters.AddNew().ID, 0, "AddNew without its optional ID");
  counters.RemoveByID(0);
  var ids = [];
  for (var items = new Enumerator(counters); !items.atEnd(); items.moveNext()) ids.push(items.item().ID);
  same(ids.join(","), "1,2", "enumeration");

  var asString = counters.MyBlob(1);
  same(typeof asString, "string", "blob as a string");
  same(asString.charCodeAt(0), 4, "token");
  var fromString = create("PerfCounters"), fromArray = create("PerfCounters");
  fromString.MyBlob = asString;
  checkCounters(fromString, "from the string");
  // Without its form MyBlob is the byte array, which Wine's script engine
  // hands on untouched but cannot look inside.
  fromArray.MyBlob = counters.MyBlob;
  checkCounters(fromArray, "from the array");

  var instance = create("PerfInstance");
  instance.Name = "worker 1";
  instance.TimeStamp = 45000.25;
  var copy = create("PerfInstance");
  copy.CopyFrom(instance);
  same(copy.Name, "worker 1", "copied instance");
  // A DATE reaches the script as a Date object.
  same(new Date(copy.TimeStamp).getTime(), new Date(instance.TimeStamp).getTime(), "time stamp");

  try {
    counters.Item(1).Value = "text";
    check(false, "a string value was accepted");
  } catch (e) {
    same(e.number, -2147024809, "invalid value type");
    same(e.description, "Invalid counter type. Type must be a Variant Long, Double, or an Array of Bytes.", "its text");
  }
  try {
    create("PerfMgr").Register();
    check(false, "an empty manager registered");
  } catch (e) {
    same(e.description, "Failed HRESULT [0x80004005] :PerfMgr not loaded. Unable to register.", "empty manager");
  }
  try {
    counters.NoSuchMember();
    check(false, "unknown member accepted");
  } catch (e) {
    check(e.number != 0, "unknown member reported");
  }
}

finish();
