// A file that includes itself stops at the depth limit.
{$I inc/self.inc}
begin
end.
// expect: [Error] self.inc(1:1): Include files nested too deeply: 'self.inc'
// expect: ### Compilation Failed
// expect-exit: 1
