// Builds a manager's tree by name, creates instances and _Total, calculates
// the totals, sweeps stale instances by real time stamps, synchronises a
// second manager from the first and takes the whole tree through MyBlob and
// back.

// Two objects: sessions with instances and a total, memory without.
function build(manager) {
  var objects = manager.PerfObjects;
  var sessions = objects.AddNew(2);
  sessions.Name = "Sessions";
  sessions.HasInstances = true;
  sessions.AutoCreateInstanceTotal = true;
  sessions.InstanceTimeout = 60;
  sessions.PerfCounters.AddNew(4).Name = "Open";
  var latency = sessions.PerfCounters.AddNew(6);
  latency.Name = "Latency";
  latency.AutoCalcInstanceTotal = "avg";
  var memory = objects.AddNew(8);
  memory.Name = "Memory";
  memory.PerfCounters.AddNew(10).Name = "Used";
  return sessions;
}

// A moment as an automation date: local days since 30 December 1899. Wine's
// script engine has no getVarDate.
function varDate(milliseconds) {
  var local = milliseconds - new Date(milliseconds).getTimezoneOffset() * 60000;
  return local / 86400000 + 25569;
}

function instanceNames(object) {
  var names = [];
  for (var items = new Enumerator(object.PerfInstances); !items.atEnd(); items.moveNext())
    names.push(items.item().Name);
  return names.join(",");
}

// Every property of every node, one text per node.
function dump(manager) {
  var lines = ["manager " + manager.ID + " " + manager.DeviceName + " " + manager.InstanceCleannupPolling];
  function counters(list, indent) {
    for (var i = 1; i <= list.Count; i++) {
      var c = list.Item(i);
      lines.push(indent + c.ID + " " + c.Name + " [" + c.Help + "] " + typeof c.Value + ":" + c.Value + " " +
                 c.DefaultScale + " " + c.CounterType + " " + c.CounterSize + " " + c.AutoCalcInstanceTotal);
    }
  }
  for (var o = 1; o <= manager.PerfObjects.Count; o++) {
    var object = manager.PerfObjects.Item(o);
    lines.push(" " + object.ID + " " + object.Name + " [" + object.Help + "] " + object.InstanceTimeout + " " +
               object.HasInstances + " " + object.AutoCreateInstanceTotal);
    counters(object.PerfCounters, "  ");
    for (var i = 1; i <= object.PerfInstances.Count; i++) {
      var instance = object.PerfInstances.Item(i);
      lines.push("  " + instance.ID + " " + instance.Name + " " + new Date(instance.TimeStamp).getTime());
      counters(instance.PerfCounters, "   ");
    }
  }
  return lines.join("\n");
}

function run() {
  var manager = create("PerfMgr");
  var sessions = build(manager);
  var now = new Date().getTime();
  // name, seconds since its last stamp, open sessions, latency
  var rows = [["alpha", 5, 3, 1.5], ["beta", 90, 4, 2.5], ["gamma", 120, 5, 0.5], ["delta", 1, 6, 0.25]];
  for (var r = 0; r < rows.length; r++) {
    var instance = sessions.CreateInstance(rows[r][0]);
    instance.TimeStamp = varDate(now - rows[r][1] * 1000);
    instance.PerfCounters.ItemByID(4).Value = rows[r][2];
    instance.PerfCounters.ItemByID(6).Value = rows[r][3];
  }
  same(sessions.CreateInstance("ALPHA").Name, "alpha", "an instance found in capitals");
  manager.CreateTotalInstances();
  manager.CreateTotalInstances();
  same(instanceNames(sessions), "alpha,beta,gamma,delta,_Total", "one _Total however often it is asked for");

  manager.CalcTotalInstances();
  var total = sessions.PerfInstances.ItemByName("_total");
  same(total.PerfCounters.ItemByID(4).Value, 18, "summed total");
  same(total.PerfCounters.ItemByID(6).Value, 1.1875, "averaged total");

  manager.RemoveTimedOutInstances();
  same(instanceNames(sessions), "alpha,delta,_Total", "instances older than 60 seconds swept");
  manager.CalcTotalInstances();
  same(total.PerfCounters.ItemByID(4).Value, 9, "total of the instances left");

  var other = create("PerfMgr");
  var otherSessions = build(other);
  otherSessions.CreateInstance("DELTA").PerfCounters.ItemByID(4).Value = 99;
  otherSessions.CreateInstance("epsilon").PerfCounters.ItemByID(4).Value = 7;
  other.PerfObjects.ItemByID(8).PerfCounters.ItemByID(10).Value = 1;
  manager.PerfObjects.ItemByID(8).PerfCounters.ItemByID(10).Value = 2048;
  other.SyncronizeFrom(manager);
  same(otherSessions.PerfInstances.ItemByName("delta").PerfCounters.ItemByID(4).Value, 6, "value matched by name");
  same(typeof otherSessions.PerfInstances.ItemByName("epsilon").PerfCounters.ItemByID(4).Value, "undefined",
       "an instance the source lacks is reset");
  same(instanceNames(otherSessions), "DELTA,epsilon", "synchronising adds no instance");
  same(other.PerfObjects.ItemByID(8).PerfCounters.ItemByID(10).Value, 2048, "value of an object without instances");

  var original = dump(manager);
  var fromString = create("PerfMgr");
  fromString.MyBlob = manager.MyBlob(1);
  same(dump(fromString), original, "the whole tree from its string");
  var fromArray = create("PerfMgr");
  fromArray.MyBlob = manager.MyBlob(0);
  same(dump(fromArray), original, "the whole tree from its byte array");

  try {
    manager.PerfObjects.ItemByID(8).CreateInstance("x");
    check(false, "an instance of an object without instances");
  } catch (e) {
    same(e.number, -2147467259, "CreateInstance refused");
    same(e.description, "CreateInstance failure. Object does not support instances.", "its text");
  }
  sessions.PerfInstances.Remove(3);
  try {
    manager.CalcTotalInstances();
    check(false, "totals without a _Total instance");
  } catch (e) {
    same(e.description, "CalcTotalInstance failed. No _Total instance found. Call CreateInstance() first.",
         "a missing _Total");
  }
  var location = manager.InstallLocation;
  check(/^[A-Z]:\\/.test(location) && location.charAt(location.length - 1) != "\\", "install folder " + location);
}

finish();
