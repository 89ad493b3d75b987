begin
end.
{$ENDIF}
// expect: [Error] (3:1): Misplaced ENDIF directive
// expect: ### Compilation Failed
// expect-exit: 1
