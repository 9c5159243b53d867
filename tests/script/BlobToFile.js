// A host's blob written to a file from a script, as the README shows it, and
// read back by perfquery --blob: MyBlob's string form written as UTF-16 text.
function run() {
  var folder = WScript.Arguments(0);
  var fso = new ActiveXObject("Scripting.FileSystemObject");
  var shell = new ActiveXObject("WScript.Shell");
  var temp = fso.GetSpecialFolder(2).Path;
  var blobFile = temp + "\\script-manager.blob", report = temp + "\\script-manager.json";

  var manager = create("PerfMgr");
  // Token, cursor, ID 1, "Svc" with its terminator, polling 900, no objects.
  manager.MyBlob = String.fromCharCode(4, 0, 0, 0, 1, 0, 8, 0, 0x53, 0x76, 0x63, 0, 900, 0, 0, 0);
  var blob = manager.MyBlob(1);
  same(blob.length, 16, "the blob's 32 bytes as a string");

  var file = fso.CreateTextFile(blobFile, true, true);
  file.Write(blob);
  file.Close();

  var exitCode = shell.Run('"' + folder + '\\perfquery.exe" --blob "' + blobFile + '" -f JSON -o "' + report + '" -y',
                           0, true);
  same(exitCode, 0, "perfquery reads the file whole");
  var text = fso.OpenTextFile(report, 1).ReadAll();
  check(text.indexOf('"length": 32') >= 0, "the blob's length: " + text);
  check(text.indexOf('"class": "manager"') >= 0, "read as a manager: " + text);
  check(text.indexOf('"DeviceName": "Svc"') >= 0, "its device name: " + text);
  check(text.indexOf('"error": null') >= 0, "read whole: " + text);
  fso.DeleteFile(blobFile);
  fso.DeleteFile(report);
}

finish();
