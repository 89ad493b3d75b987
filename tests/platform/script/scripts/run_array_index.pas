var a: array of Integer; i: Integer;
begin
  SetLength(a, 2);
  i := -1;
  showmessage(IntToStr(a[i]));
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (5:25): Index out of range
// expect-exit: 1
