// try/except, try/finally, raise and re-raise; run errors a script catches.
var
  i, zero: Integer;
  log: string;
  a: array[1..3] of Integer;

procedure Fail(const why: string);
begin
  raise Exception.Create(why);
end;

function Safe(n: Integer): string;
begin
  try
    Result := IntToStr(100 div n);
  except
    Result := 'div';
  end;
end;

begin
  zero := 0;
  try
    Fail('first');
    showmessage('not reached');
  except
    on E: Exception do
      showmessage('caught: ' + E.Message);      // expect: caught: first
  end;
  showmessage(Safe(4) + ' ' + Safe(zero));      // expect: 25 div
  try
    i := 10 div zero;
  except
    on E: Exception do showmessage(E.Message);  // expect: Division by zero
  end;
  try
    i := 4;
    a[i] := 1;
  except
    on E: Exception do showmessage(E.Message);  // expect: Index out of range
  end;
  try
    i := StrToInt('12x');
  except
    on E: Exception do showmessage(E.Message);  // expect: '12x' is not a valid integer value
  end;
  log := '';
  try
    try
      log := log + 'body ';
      Fail('inner');
    finally
      log := log + 'finally ';
    end;
  except
    on E: Exception do log := log + 'outer:' + E.Message;
  end;
  showmessage(log);                             // expect: body finally outer:inner
  log := '';
  try
    try
      Fail('again');
    except
      log := 'handled ';
      raise;
    end;
  except
    on E: Exception do log := log + 'reraised:' + E.Message;
  end;
  showmessage(log);                             // expect: handled reraised:again
  log := '';
  for i := 1 to 3 do
    try
      if i = 2 then Continue;
      log := log + IntToStr(i);
    finally
      log := log + '.';
    end;
  showmessage(log);                             // expect: 1..3.
  try
    log := 'x';
  finally
    showmessage('finally without error');       // expect: finally without error
  end;
  Fail('uncaught');
  showmessage('not reached');
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (9:3): uncaught
// expect-exit: 1
