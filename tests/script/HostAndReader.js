// A script host, as a server written in script would be: it loads and
// registers a definition file, creates instances and their _Total, sets
// values, calculates totals and publishes; perfquery.exe, another process
// reading performance data through the system, shows the values, and the
// next one after a change and a new publish.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var bin = WScript.Arguments(0);

// What perfquery prints for `object`, through a file, since Wine's script
// shell cannot read a program's output directly.
function perfquery(object) {
  var out = fso.BuildPath(fso.GetSpecialFolder(2).Path, "rv-perfquery-" + new Date().getTime() + ".txt");
  var status = shell.Run("cmd /c \"\"" + bin + "\\perfquery.exe\" " + object + " > \"" + out + "\" 2>&1\"", 0, true);
  same(status, 0, "perfquery " + object + " exit status");
  var text = fso.FileExists(out) ? fso.OpenTextFile(out, 1).ReadAll() : "";
  if (fso.FileExists(out)) fso.DeleteFile(out);
  return text;
}

function shows(text, parts, what) {
  for (var i = 0; i < parts.length; i++)
    check(text.indexOf(parts[i]) >= 0, what + ": '" + parts[i] + "' in:\n" + text);
}

function run() {
  var device = "RVScriptHost" + new Date().getTime();
  var folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, device);
  fso.CreateFolder(folder);
  var file = fso.CreateTextFile(folder + "\\RVCounters.xml", true, false);
  file.Write("<?xml version=\"1.0\"?>\r\n<PerfData headerFile=\"host.h\" iniFile=\"host.ini\" " +
             "perfmonDLLFile=\"rvPerfCollector.dll\" deviceName=\"" + device + "\" instanceCleannupPolling=\"0\">" +
             "<Object name=\"Script Sessions\" help=\"Open sessions\" hasInstances=\"true\" " +
             "autoCreateInstanceTotal=\"true\" instanceTimeout=\"0\"><Counter name=\"Active\" " +
             "help=\"Active sessions\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\" " +
             "autoCalcInstanceTotal=\"sum\"/></Object></PerfData>\r\n");
  file.Close();

  var manager = create("PerfMgr");
  manager.Load(folder);
  manager.Register(folder);
  var sessions = manager.PerfObjects.Item(1);
  var alpha = sessions.CreateInstance("alpha"), beta = sessions.CreateInstance("beta");
  manager.CreateTotalInstances();
  alpha.PerfCounters.Item(1).Value = 1234;
  beta.PerfCounters.Item(1).Value = 4321;
  manager.CalcTotalInstances();
  var publisher = new ActiveXObject("rvTreePublisher.TreePublisher");
  publisher.Publish(manager);

  // Wine's lodctr installs no names: the collector numbers from 10000.
  var index = 10000 + sessions.ID;
  shows(perfquery(index), ["alpha", "beta", "_Total", "1234", "4321", "5555"], "first sample");

  beta.PerfCounters.Item(1).Value = 8765;
  manager.CalcTotalInstances();
  publisher.Publish(manager);
  shows(perfquery(index), ["8765", "9999"], "after a change");

  publisher.Withdraw();
  // Wine's script shell has no RegDelete.
  same(shell.Run("reg delete \"HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + device + "\" /f", 0, true), 0,
       "service key removed");
  fso.DeleteFolder(folder, true);
}

finish();
