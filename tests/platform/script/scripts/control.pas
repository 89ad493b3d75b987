// Statements: if, case, the three loops, break, continue, exit, compound statements.
var
  i, j, n: Integer;
  s: string;
  ch: Char;

function Kind(x: Integer): string;
begin
  case x of
    0: Result := 'zero';
    1, 2, 3: Result := 'small';
    4..9: begin
      Result := 'digit';
      if x = 9 then
        Exit;
      Result := Result + '!';
    end;
  else
    Result := 'big';
  end;
end;

function Vowel(c: Char): Boolean;
begin
  case c of
    'a', 'e', 'i', 'o', 'u': Result := True;
  else
    Result := False;
  end;
end;

begin
  showmessage(Kind(0) + ' ' + Kind(2) + ' ' + Kind(5) + ' ' + Kind(9) + ' ' + Kind(-3));
  // expect: zero small digit! digit big
  s := '';
  for ch := 'a' to 'f' do
    if Vowel(ch) then s := s + ch else s := s + '.';
  showmessage(s);                          // expect: a...e.
  s := '';
  for i := 5 downto 1 do
  begin
    if i = 4 then Continue;
    s := s + IntToStr(i);
  end;
  showmessage(s);                          // expect: 5321
  n := 0;
  for i := 1 to 0 do Inc(n);
  for i := 3 to 3 do Inc(n, 10);
  showmessage(IntToStr(n));                // expect: 10
  i := 0; n := 0;
  while i < 100 do
  begin
    Inc(i);
    if i mod 2 = 0 then Continue;
    if i > 9 then Break;
    n := n + i;
  end;
  showmessage(IntToStr(i) + ' ' + IntToStr(n));  // expect: 11 25
  i := 10;
  repeat
    Dec(i, 3);
  until i < 0;
  showmessage(IntToStr(i));                // expect: -2
  n := 0;
  for i := 1 to 3 do
    for j := 1 to 3 do
    begin
      if j > i then Break;
      Inc(n);
    end;
  showmessage(IntToStr(n));                // expect: 6
  i := 0;
  repeat
    Inc(i);
    if i < 3 then Continue;
    Break;
  until False;
  showmessage(IntToStr(i));                // expect: 3
  // Short-circuit: the division is never evaluated.
  i := 0;
  if (i <> 0) and (10 div i > 1) then showmessage('no') else showmessage('short');  // expect: short
  if (i = 0) or (10 div i > 1) then showmessage('short too');  // expect: short too
  if i = 0 then
    if i = 1 then showmessage('inner') else showmessage('dangling else');  // expect: dangling else
  begin end;
  ;;
  showmessage('end');                      // expect: end
  exit;
  showmessage('never');
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
