// Endless recursion ends with a run error, not a crash; try/except does not hide it.
function Down(n: Integer): Integer;
begin
  Result := Down(n + 1) + 1;
end;
begin
  try
    Down(0);
  except
    showmessage('caught');
  end;
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (4:13): Stack overflow
// expect-exit: 1
