// A host routine's error ends the run with its text.
begin
  forcedirectories('');
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (3:3): Unable to create directory
// expect-exit: 1
