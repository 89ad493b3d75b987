{$IFDEF X}
begin
end.
// expect: [Error] (1:1): Missing ENDIF directive
// expect: ### Compilation Failed
// expect-exit: 1
