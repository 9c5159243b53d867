// The sample server of sample_host, in script, for Windows' script host:
//   cscript //nologo SampleHost.js [FOLDER] [SECONDS]
// It loads and registers FOLDER\RVCounters.xml (default: the folder sample
// beside the script), then for SECONDS (default 60) opens and closes client sessions,
// sets their values, stamps the live ones, lets the manager sweep the ones
// whose client vanished, and publishes once a second through
// rvTreePublisher.TreePublisher; the tree is withdrawn at the end. Both the
// component and rvTreePublisher must be registered (regsvr32).
// Exit status: 0 done, 1 failure, 2 wrong usage.
var args = WScript.Arguments;
var fso = new ActiveXObject("Scripting.FileSystemObject");

function usage() {
  WScript.Echo("Usage: cscript //nologo SampleHost.js [FOLDER] [SECONDS]\n" +
               "Publishes the sample server's counters from FOLDER\\RVCounters.xml (default: the\n" +
               "folder sample beside the script) once a second for SECONDS (1 to 86400, default 60).");
}

// Errors go to standard error where the script host has one; Wine's has
// none, and there they are echoed.
function complain(text) {
  try {
    WScript.StdErr.WriteLine(text);
  } catch (e) {
    WScript.Echo(text);
  }
}

// Waits `ms` milliseconds. Wine's script host has no WScript.Sleep (it
// answers E_NOTIMPL), and there the wait is spent watching the clock.
function pause(ms) {
  try {
    WScript.Sleep(ms);
  } catch (e) {
    for (var until = new Date().getTime() + ms; new Date().getTime() < until;) {
    }
  }
}

function hex(n) {
  return "0x" + ((n < 0 ? n + 0x100000000 : n).toString(16).toUpperCase());
}

// Local time as an OLE date: days since 30 December 1899.
function oleNow() {
  var now = new Date();
  return (now.getTime() - now.getTimezoneOffset() * 60000) / 86400000 + 25569;
}

function between(low, high) {
  return low + Math.random() * (high - low);
}

function positionOf(instances, name) {
  for (var i = 1; i <= instances.Count; i++)
    if (instances.Item(i).Name == name) return i;
  return 0;
}

function serve(folder, seconds) {
  var step = "creating rvZedaZuvivurAzodav_83.PerfMgr (is it registered?)";
  try {
    var manager = new ActiveXObject("rvZedaZuvivurAzodav_83.PerfMgr");
    step = "loading " + folder + "\\RVCounters.xml";
    manager.Load(folder);
    step = "Register";
    manager.Register(folder);
    step = "reading the definitions";
    var sessionsObject = manager.PerfObjects.ItemByName("RV Sample Sessions");
    var memory = manager.PerfObjects.ItemByName("RV Sample Memory").PerfCounters;
    var instances = sessionsObject.PerfInstances;
    var polling = manager.InstanceCleannupPolling;
    manager.CreateTotalInstances();
    step = "creating rvTreePublisher.TreePublisher (is it registered?)";
    var publisher = new ActiveXObject("rvTreePublisher.TreePublisher");
  } catch (e) {
    complain("SampleHost: " + step + " failed: error " + hex(e.number) + ": " + e.description);
    return 1;
  }

  var sessions = [], opened = 0, requests = 0;
  var start = new Date().getTime(), last = start, lastSweep = 0;
  try {
    for (var tick = 1; tick <= seconds; tick++) {
      var now = (new Date().getTime() - start) / 1000, elapsed = (new Date().getTime() - last) / 1000;
      last = new Date().getTime();
      var load = 0.55 + 0.45 * Math.sin(now * 2 * Math.PI / 60);
      var closed = 0, vanished = 0, live = 0;
      step = "closing sessions";
      for (var i = sessions.length - 1; i >= 0; i--) {
        if (sessions[i].vanished || now < sessions[i].closesAt) continue;
        var at = positionOf(instances, sessions[i].name);
        if (at != 0) instances.Remove(at);
        sessions.splice(i, 1);
        closed++;
      }
      for (i = 0; i < sessions.length; i++) if (!sessions[i].vanished) live++;
      step = "CreateInstance";
      var wanted = 2 + Math.round(5 * load), toOpen = opened == 0 ? 3 : (live < wanted && Math.random() < 0.6 ? 1 : 0);
      for (i = 0; i < toOpen; i++) {
        var name = "client-" + (++opened);
        sessions.push({name: name, instance: sessionsObject.CreateInstance(name), requests: 0, bytes: 0,
                       closesAt: now + between(8, 40), vanished: false});
      }
      if (live > 1 && Math.random() < 0.05) sessions[0].vanished = true;

      step = "setting values";
      var stamp = oleNow(), rates = 0;
      for (i = 0; i < sessions.length; i++) {
        var s = sessions[i];
        if (s.vanished) continue;
        var rate = (5 + 30 * load) * between(0.7, 1.3), counters = s.instance.PerfCounters;
        s.requests += rate * elapsed;
        s.bytes += rate * elapsed * between(2e4, 6e4);
        rates += rate;
        counters.ItemByName("Active Requests").Value = Math.round(rate * between(0.05, 0.25));
        counters.ItemByName("Requests/sec").Value = Math.floor(s.requests);
        counters.ItemByName("Bytes Sent/sec").Value = Math.floor(s.bytes);
        counters.ItemByName("Response Time ms").Value = Math.round((20 + 90 * load) * between(0.8, 1.2));
        s.instance.TimeStamp = stamp;
      }
      var heap = 4.4e9 + 0.35e9 * sessions.length + between(0, 5e7);
      memory.ItemByName("Heap Bytes").Value = Math.floor(heap);
      memory.ItemByName("Cache Entries").Value = Math.round(12000 + requests * 0.4) % 50000;
      requests += rates * elapsed;
      step = "CalcTotalInstances";
      manager.CalcTotalInstances();
      if (polling > 0 && now - lastSweep >= polling) {
        step = "RemoveTimedOutInstances";
        lastSweep = now;
        manager.RemoveTimedOutInstances();
        for (i = sessions.length - 1; i >= 0; i--)
          if (positionOf(instances, sessions[i].name) == 0) {
            sessions.splice(i, 1);
            vanished++;
          }
      }
      step = "Publish";
      publisher.Publish(manager);
      WScript.Echo("[" + now.toFixed(1) + "s] publish " + tick + ": " + (instances.Count - 1) + " sessions (+" +
                   toOpen + " -" + closed + ", " + vanished + " timed out), " + Math.round(rates) +
                   " requests/s, heap " + (heap / 1e9).toFixed(2) + " GB");
      step = "waiting";
      var next = start + tick * 1000 - new Date().getTime();
      if (tick < seconds && next > 0) pause(next);
    }
  } catch (e) {
    complain("SampleHost: " + step + " failed: error " + hex(e.number) + ": " + e.description);
    publisher.Withdraw();
    return 1;
  }
  publisher.Withdraw();
  WScript.Echo("SampleHost: withdrawn after " + seconds + " seconds");
  return 0;
}

function main() {
  if (args.length > 0 && (args(0) == "/?" || args(0) == "--help" || args(0) == "-h")) {
    usage();
    return 0;
  }
  if (args.length > 2) {
    usage();
    return 2;
  }
  var folder = args.length > 0 ? args(0) : fso.BuildPath(fso.GetParentFolderName(WScript.ScriptFullName), "sample");
  var seconds = 60;
  if (args.length > 1) {
    if (!/^[0-9]{1,5}$/.test(args(1)) || args(1) < 1 || args(1) > 86400) {
      complain("SampleHost: SECONDS must be a whole number from 1 to 86400, not '" + args(1) + "'");
      return 2;
    }
    seconds = parseInt(args(1), 10);
  }
  if (!fso.FileExists(folder + "\\RVCounters.xml")) {
    complain("SampleHost: the definition file " + folder + "\\RVCounters.xml does not exist");
    return 1;
  }
  return serve(folder, seconds);
}

WScript.Quit(main());
