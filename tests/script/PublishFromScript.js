// rvTreePublisher.TreePublisher from a script: a manager passed by name is
// published, and a null argument is refused with a description.
function run() {
  var manager = create("PerfMgr");
  var device = "RVScriptPublish" + new Date().getTime();
  // A manager's blob carries its device name: token, cursor, ID, the name's
  // byte count with its terminator, the name, polling and no objects.
  var blob = String.fromCharCode(4, 0, 0, 0, 0, 0, (device.length + 1) * 2, 0) + device +
             String.fromCharCode(0, 900, 0, 0, 0);
  manager.MyBlob = blob;
  same(manager.DeviceName, device, "device from the blob");

  var publisher = new ActiveXObject("rvTreePublisher.TreePublisher");
  publisher.Publish(manager);
  same(publisher.DeviceName, device, "device taken from the manager");
  same(publisher.Generation, 1, "first tree");
  try {
    publisher.Publish(null);
    check(false, "null published");
  } catch (e) {
    same(e.number, 0x80020005 | 0, "null refused");
    check(e.description.indexOf("not an object") >= 0, "described: " + e.description);
  }
  publisher.Withdraw();
  same(publisher.Generation, 0, "nothing published after Withdraw");
}

finish();
