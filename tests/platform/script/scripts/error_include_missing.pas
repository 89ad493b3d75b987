begin
  {$I inc/missing.inc}
end.
// expect: [Error] (2:3): File not found: 'inc/missing.inc'
// expect: ### Compilation Failed
// expect-exit: 1
