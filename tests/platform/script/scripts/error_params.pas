procedure P(a, b: Integer);
begin
end;
begin
  P(1);
end.
// expect: [Error] (5:3): Invalid number of parameters
// expect: ### Compilation Failed
// expect-exit: 1
