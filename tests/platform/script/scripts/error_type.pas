var i: Integer;
begin
  i := 'text';
end.
// expect: [Error] (3:8): Type mismatch
// expect: ### Compilation Failed
// expect-exit: 1
