// Strings and characters: literals, indexing, comparison and the string routines.
var
  s, t: string;
  w: widestring;
  c: Char;
  i: Integer;
begin
  s := 'it''s';
  showmessage(s + ' ' + IntToStr(Length(s)));              // expect: it's 4
  s := 'a' + #66 + #$43 + 'd';
  showmessage(s);                                         // expect: aBCd
  t := 'x' + #13#10 + 'y';
  showmessage(IntToStr(Length(t)) + ' ' + IntToStr(Ord(t[2])) + ' ' + IntToStr(Ord(t[3]))); // expect: 4 13 10
  s[1] := 'A';
  c := s[4];
  showmessage(s + ' ' + c);                               // expect: ABCd d
  c := 'z';
  s := c + s + c;
  showmessage(s);                                         // expect: zABCdz
  if ('abc' < 'abd') and ('b' > 'abc') and ('abc' = 'ab' + 'c') and ('A' <> 'a') then
    showmessage('compare');                               // expect: compare
  showmessage(Copy('Hello world', 7, 5) + '|' + Copy('abc', 2, 100) + '|' + Copy('abc', 5, 1) + '|');
  // expect: world|bc||
  showmessage(IntToStr(Pos('lo', 'Hello')) + ' ' + IntToStr(Pos('z', 'Hello'))); // expect: 4 0
  s := 'Hello world';
  Delete(s, 6, 6);
  Insert(', you', s, 6);
  showmessage(s);                                         // expect: Hello, you
  showmessage(UpperCase('abc-é') + ' ' + LowerCase('ABC') + ' ' + AnsiUpperCase('é')); // expect: ABC-é abc É
  showmessage('[' + Trim('  a b  ') + '][' + TrimLeft('  a ') + '][' + TrimRight(' a  ') + ']'); // expect: [a b][a ][ a]
  showmessage(StringReplace('a-b-c', '-', '+', [rfReplaceAll]) + ' ' + StringReplace('a-b-c', '-', '+', []));
  // expect: a+b+c a+b-c
  showmessage(StringReplace('aAa', 'a', 'x', [rfReplaceAll, rfIgnoreCase]));  // expect: xxx
  showmessage(StringOfChar('*', 3) + IntToHex(255, 4) + IntToHex(-1, 2) + UpCase('q'));  // expect: ***00FFFFFFFFFFQ
  w := 'ünïcödé';
  showmessage(w + ' ' + IntToStr(Length(w)));              // expect: ünïcödé 7
  SetLength(s, 3);
  showmessage(s);                                         // expect: Hel
  s := '';
  for i := 1 to 5 do
    s := s + Chr(Ord('a') + i - 1);
  showmessage(s);                                         // expect: abcde
  showmessage(IntToStr(StrToInt('  -42')) + ' ' + IntToStr(StrToInt('$1F')) + ' ' + IntToStr(StrToIntDef('x', 7)));
  // expect: -42 31 7
  showmessage(FloatToStr(StrToFloat('2.5')) + ' ' + QuotedStr('it''s'));  // expect: 2.5 'it''s'
  if SameText('ABC', 'abc') then showmessage(IntToStr(CompareStr('a', 'b')));  // expect: -1
  showmessage(BoolToStr(True, True) + ' ' + BoolToStr(False));  // expect: True 0
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
