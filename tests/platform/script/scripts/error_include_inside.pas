// An error in an included file names that file, with its own line and column.
{$I inc/broken.inc}
begin
end.
// expect: [Error] broken.inc(3:3): Unknown identifier 'Unknown_Thing'
// expect: ### Compilation Failed
// expect-exit: 1
