var s: string; i: Integer;
begin
  s := 'abc';
  i := 4;
  s[i] := 'x';
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (5:3): Index out of range
// expect-exit: 1
