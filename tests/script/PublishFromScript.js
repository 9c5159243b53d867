// A script publishes a host's tree through rvTreePublisher.TreePublisher: the
// managers load definition files the suite writes (the device name comes
// from there), the publisher takes the first manager's device, counts what
// it publishes, refuses another device, a second publisher of the same
// device and arguments that are no manager, each with a description, and
// gives the device's name free again when it withdraws.
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folders = [];

// A manager loaded from a definition file of one object with instances and
// one counter, under `device`.
function loadedManager(device) {
  var folder = fso.BuildPath(fso.GetSpecialFolder(2).Path, "rv-publish-" + folders.length + "-" + new Date().getTime());
  fso.CreateFolder(folder);
  folders.push(folder);
  var file = fso.CreateTextFile(folder + "\\RVCounters.xml", true, false);
  file.Write("<?xml version=\"1.0\"?>\r\n<PerfData headerFile=\"svc.h\" iniFile=\"svc.ini\" " +
             "perfmonDLLFile=\"svcperf.dll\" deviceName=\"" + device + "\" instanceCleannupPolling=\"120\" " +
             "Enabled=\"1\"><Object name=\"Sessions\" help=\"Open sessions\" hasInstances=\"true\" " +
             "autoCreateInstanceTotal=\"true\" instanceTimeout=\"60\"><Counter name=\"Active\" " +
             "help=\"Active sessions\" defaultScale=\"0\" counterType=\"PERF_COUNTER_RAWCOUNT\"/></Object>" +
             "</PerfData>\r\n");
  file.Close();
  var manager = create("PerfMgr");
  manager.Load(folder);
  return manager;
}

// Calls `call`, which must fail with `code`; the description must hold every
// text of `parts`.
function fails(call, code, parts, text) {
  try {
    call();
    check(false, text + ": no error");
  } catch (e) {
    same(e.number, code | 0, text + " number");
    for (var i = 0; i < parts.length; i++)
      check(e.description.indexOf(parts[i]) >= 0, text + ": '" + parts[i] + "' in '" + e.description + "'");
  }
}

function run() {
  var device = "RVScriptPublish" + new Date().getTime();
  var manager = loadedManager(device);
  same(manager.DeviceName, device, "device from the definition file");
  var sessions = manager.PerfObjects.Item(1);
  sessions.CreateInstance("alpha").PerfCounters.Item(1).Value = 7;

  var publisher = new ActiveXObject("rvTreePublisher.TreePublisher");
  same(publisher.DeviceName, "", "no device before the first Publish");
  same(publisher.Generation, 0, "nothing published before the first Publish");
  publisher.Publish(manager);
  same(publisher.DeviceName, device, "device taken from the manager");
  same(publisher.Generation, 1, "first tree");
  sessions.CreateInstance("beta").PerfCounters.Item(1).Value = 8;
  publisher.Publish(manager);
  same(publisher.Generation, 2, "second tree");

  var E_INVALIDARG = 0x80070057, ERROR_ALREADY_EXISTS = 0x800700B7, DISP_E_TYPEMISMATCH = 0x80020005;
  var other = loadedManager("RVScriptOther");
  fails(function () { publisher.Publish(other); }, E_INVALIDARG, [device, "RVScriptOther"], "another device");
  fails(function () { publisher.Publish(sessions); }, E_INVALIDARG, ["PerfMgr"], "an object that is no manager");
  fails(function () { publisher.Publish(null); }, DISP_E_TYPEMISMATCH, ["PerfMgr", "not an object"], "null");
  fails(function () { publisher.Publish(create("PerfMgr")); }, E_INVALIDARG, ["DeviceName"], "a manager without device");
  same(publisher.Generation, 2, "failed calls publish nothing");

  // The versioned ProgID names the same class; a second publisher of the
  // device finds its name taken while the first one holds it.
  var second = new ActiveXObject("rvTreePublisher.TreePublisher.1");
  fails(function () { second.Publish(manager); }, ERROR_ALREADY_EXISTS, [device, "0x800700B7"], "the device taken");
  same(second.DeviceName, "", "a failed first Publish fixes no device");

  publisher.Withdraw();
  same(publisher.Generation, 0, "nothing published after Withdraw");
  same(publisher.DeviceName, device, "the device stays after Withdraw");
  second.Publish(manager);
  same(second.Generation, 1, "the device's name is free after Withdraw");
  second.Withdraw();

  for (var i = 0; i < folders.length; i++) fso.DeleteFolder(folders[i], true);
}

finish();
