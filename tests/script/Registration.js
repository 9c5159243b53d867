// Loads a definition file from a folder of its own, registers it into that
// folder, reads the symbol header and the INI file back through the file
// system object and the four Performance values through the shell, then
// removes the counters with unlodctr.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");

function writeText(path, text) {
  var file = fso.CreateTextFile(path, true, false);
  file.Write(text);
  file.Close();
}

function readText(path) {
  if (!fso.FileExists(path)) return "<missing>";
  var file = fso.OpenTextFile(path, 1, false, 0);
  var text = file.AtEndOfStream ? "" : file.ReadAll();
  file.Close();
  return text;
}

function run() {
  var folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, "rv-registration-" + new Date().getTime());
  fso.CreateFolder(folder);
  var device = "RVScriptRegistration";
  var service = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\" + device + "\\";
  writeText(folder + "\\RVCounters.xml",
            "<?xml version=\"1.0\"?>\r\n<PerfData headerFile=\"svc.h\" iniFile=\"svc.ini\" perfmonDLLFile=\"svcperf.dll\" " +
            "deviceName=\"" + device + "\" instanceCleannupPolling=\"120\" Enabled=\"1\">" +
            "<Object name=\"Sessions\" help=\"Open sessions\" hasInstances=\"true\" autoCreateInstanceTotal=\"true\" " +
            "instanceTimeout=\"60\"><Counter name=\"Active\" help=\"Active sessions\" defaultScale=\"0\" " +
            "counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>" +
            "<Object name=\"Memory\" help=\"Memory in use\" hasInstances=\"false\" autoCreateInstanceTotal=\"false\" " +
            "instanceTimeout=\"0\"/></PerfData>\r\n");

  var manager = create("PerfMgr");
  try {
    manager.Register(folder);
    check(false, "an empty manager registered");
  } catch (e) {
    same(e.description, "Failed HRESULT [0x80004005] :PerfMgr not loaded. Unable to register.", "empty manager");
  }
  same(readText(folder + "\\svc.h"), "<missing>", "no header file for an empty manager");

  manager.Load(folder);
  same(manager.DeviceName, device, "device name");
  same(manager.InstanceCleannupPolling, 120, "polling period");
  same(manager.PerfObjects.Item(2).ID, 4, "second object's ID");
  manager.Register(folder);
  same(readText(folder + "\\svc.h"), "#define OBJECT1 0\r\n#define COUNTER2 2\r\n#define OBJECT3 4\r\n", "header file");
  same(readText(folder + "\\svc.ini"),
       "[info]\r\ndrivername=" + device + "\r\nsymbolfile=" + folder + "\\svc.h\r\n[languages]\r\n009=English\r\n" +
       "[text]\r\nOBJECT1_009_NAME=Sessions\r\nOBJECT1_009_HELP=Open sessions\r\nCOUNTER2_009_NAME=Active\r\n" +
       "COUNTER2_009_HELP=Active sessions\r\nOBJECT3_009_NAME=Memory\r\nOBJECT3_009_HELP=Memory in use\r\n",
       "INI file");
  var values = {Close: "CloseNorvalePerfData", Collect: "CollectNorvalePerfData", Open: "OpenNorvalePerfData",
                Library: "svcperf.dll"};
  for (var name in values) same(shell.RegRead(service + "Performance\\" + name), values[name], name + " value");

  var status = shell.Run("unlodctr \"" + device + "\"", 0, true);
  same(typeof status, "number", "unlodctr ran");

  try {
    manager.Load(folder + "\\absent");
    check(false, "a missing definition file loaded");
  } catch (e) {
    check(e.description.indexOf("Invalid xml file: " + folder + "\\absent\\RVCounters.xml. ") > 0,
          "missing file named: " + e.description);
    same(manager.PerfObjects.Count, 0, "objects after a failed load");
  }

  // Wine's shell object has no RegDelete.
  shell.Run("reg delete \"" + service.substring(0, service.length - 1) + "\" /f", 0, true);
  check(shell.Run("reg query \"" + service + "Performance\"", 0, true) != 0, "service key removed");
  fso.DeleteFolder(folder, true);
}

finish();
