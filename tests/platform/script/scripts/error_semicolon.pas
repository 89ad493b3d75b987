var i: Integer;
begin
  i := 1
  i := 2;
end.
// expect: [Error] (4:3): ';' expected
// expect: ### Compilation Failed
// expect-exit: 1
