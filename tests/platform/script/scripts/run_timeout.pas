// A script that never ends is stopped by the watchdog.
// timeout: 0.3
var i: Integer;
begin
  i := 0;
  while true do
    Inc(i);
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (6:3): Script stopped: time-out after 0.3 s
// expect-exit: 1
