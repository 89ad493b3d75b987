{ Lexical forms: comments of three kinds, literals, case-insensitive names. }
PROGRAM Lexical;
(* A comment { with braces } over
   two lines; they do not nest *)
VAR
  Zähler: Integer;   // a Unicode identifier
  S: STRING;
  Arr: ARRAY(.0..1.) OF Char;
BEGIN
  zÄhler := $1f + 1;                                   // hex, any case
  ShowMessage(IntToStr(ZÄHLER));                       // expect: 32
  s := 'a''b' + '' + #9 + 'c';
  SHOWMESSAGE(IntToStr(Length(S)) + ' ' + IntToStr(Ord(s[4])));  // expect: 5 9
  arr[0] := #$41; Arr[1] := 'b';
  showmessage(arr[0] + ARR[1]);                        // expect: Ab
  showmessage(FloatToStr(12.5e-1) + ' ' + FloatToStr(3E2));  // expect: 1.25 300
END.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
