// Creates every class of the component by its ProgID, as a scripting host
// does, and uses a few members by name.
function run() {
  var classes = ["PerfCounter", "PerfObject", "PerfCounters", "PerfObjects", "PerfMgr", "PerfInstance", "PerfInstances"];
  for (var i = 0; i < classes.length; i++) {
    var progId = "rvZedaZuvivurAzodav_83." + classes[i];
    try {
      check(new ActiveXObject(progId) != null, progId + " created");
    } catch (e) {
      check(false, progId + " threw " + e.number + " " + e.description);
    }
  }

  var manager = new ActiveXObject("rvZedaZuvivurAzodav_83.PerfMgr");
  manager.ID = 12;
  check(manager.ID == 12, "ID round trip, got " + manager.ID);
  check(manager.PerfObjects != null, "PerfObjects of the manager");
  var object = new ActiveXObject("rvZedaZuvivurAzodav_83.PerfObject");
  check(object.PerfCounters != null && object.PerfInstances != null, "children of PerfObject");
  var instance = new ActiveXObject("rvZedaZuvivurAzodav_83.PerfInstance");
  check(instance.PerfCounters != null, "counters of PerfInstance");

  try {
    manager.NoSuchMember();
    check(false, "unknown member accepted");
  } catch (e) {
    check(e.number != 0, "unknown member reported");
  }
}

finish();
