// A script routine may not take the name of a host routine (an action's).
procedure Volume(x: Integer);
begin
end;
begin
  Volume(1);
end.
// expect: [Error] (2:11): Duplicate identifier 'Volume'
// expect: ### Compilation Failed
// expect-exit: 1
