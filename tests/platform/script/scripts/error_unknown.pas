var i: Integer;
begin
  i := Foo + 1;
end.
// expect: [Error] (3:8): Unknown identifier 'Foo'
// expect: ### Compilation Failed
// expect-exit: 1
