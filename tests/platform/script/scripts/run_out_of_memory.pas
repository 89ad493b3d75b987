// Passing the memory limit ends the run; nothing is allocated for the attempt.
var a: array of Integer;
begin
  SetLength(a, 10);
  try
    SetLength(a, 100000000);
  except
    showmessage('caught');
  end;
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (6:5): Out of memory
// expect-exit: 1
