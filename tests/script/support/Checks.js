// What every suite shares: the tallies, the checks and creation by ProgID.
// The runner puts this file in front of each suite. A suite defines run()
// and ends with finish(), which prints the summary line the runner looks
// for and sets the exit status.
var passed = 0, failed = 0;

function check(condition, text) {
  if (condition) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAILED: " + text);
  }
}

function same(actual, expected, text) {
  check(actual === expected, text + ": expected " + expected + ", got " + actual);
}

function create(name) {
  return new ActiveXObject("rvZedaZuvivurAzodav_83." + name);
}

// Runs the suite; an uncaught error counts as a failure instead of ending
// the script silently.
function finish() {
  try {
    run();
  } catch (e) {
    check(false, "uncaught " + e.number + " " + e.description);
  }
  WScript.Echo(passed + " passed, " + failed + " failed");
  WScript.Quit(failed == 0 ? 0 : 1);
}
