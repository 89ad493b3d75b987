// Enumerations, subranges, sets, arrays, records, with, typecasts and the
// graphics import's types and colours.
type
  TDay = (Mon, Tue, Wed, Thu, Fri, Sat, Sun);
  TDays = set of TDay;
  TDigit = 0..9;
  TLetters = set of Char;
  TPair = record
    Name: string;
    Value: Integer;
  end;
  TBox = record
    TopLeft, BottomRight: TPair;
    Tags: array[1..3] of string;
  end;
  TGrid = array[0..2, 0..3] of Integer;
  TInts = array of Integer;

const
  Weekend: TDays = [Sat, Sun];
  Names: array[0..2] of string = ('zero', 'one', 'two');
  Limit = 2 * 5 + 1;

var
  d: TDay;
  days: TDays;
  letters: TLetters;
  digit: TDigit;
  p, q: TPair;
  box, box2: TBox;
  grid: TGrid;
  dyn, other: TInts;
  matrix: array of array of Integer;
  i, j, sum: Integer;
  s: string;
  st: TFontStyles;

function Total(const a: array of Integer): Integer;
var k: Integer;
begin
  Result := 0;
  for k := Low(a) to High(a) do
    Result := Result + a[k];
end;

begin
  d := Wed;
  showmessage(IntToStr(Ord(d)) + ' ' + IntToStr(Ord(Succ(d))) + ' ' + IntToStr(Ord(High(TDay))));  // expect: 2 3 6
  if (d > Tue) and (Pred(d) = Tue) then showmessage('enum order');  // expect: enum order
  days := [Mon..Wed, Fri];
  if (Fri in days) and not (Thu in days) and (days * Weekend = []) then showmessage('sets');  // expect: sets
  days := days + Weekend - [Mon];
  s := '';
  for d := Low(TDay) to High(TDay) do
    if d in days then s := s + IntToStr(Ord(d));
  showmessage(s);                                   // expect: 12456
  if ([Tue] <= days) and (days >= [Sat, Sun]) and not ([Mon] <= days) and (days <> Weekend) then
    showmessage('subsets');                         // expect: subsets
  Include(days, Thu);
  Exclude(days, Sun);
  if (Thu in days) and not (Sun in days) then showmessage('include');  // expect: include
  letters := ['a'..'z', '_'];
  if ('q' in letters) and not ('Q' in letters) and ('_' in letters) then showmessage('chars');  // expect: chars
  digit := 9;
  showmessage(IntToStr(digit) + ' ' + IntToStr(High(TDigit)) + ' ' + IntToStr(Limit));  // expect: 9 9 11
  p.Name := 'x';
  p.Value := 1;
  q := p;              // a copy
  q.Value := 2;
  showmessage(p.Name + IntToStr(p.Value) + q.Name + IntToStr(q.Value));  // expect: x1x2
  box.TopLeft := p;
  box.BottomRight.Name := 'br';
  box.Tags[2] := 'tag';
  box2 := box;
  box2.Tags[2] := 'changed';
  with box.BottomRight do
  begin
    Value := 42;
    Name := Name + '!';
  end;
  showmessage(box.TopLeft.Name + ' ' + box.BottomRight.Name + ' ' + IntToStr(box.BottomRight.Value) + ' ' + box.Tags[2] + ' ' + box2.Tags[2]);
  // expect: x br! 42 tag changed
  for i := 0 to 2 do
    for j := 0 to 3 do
      grid[i, j] := i * 10 + j;
  showmessage(IntToStr(grid[2][3]) + ' ' + IntToStr(grid[1, 2]) + ' ' + IntToStr(Length(grid)) + ' ' + IntToStr(High(grid[0])));
  // expect: 23 12 3 3
  SetLength(dyn, 4);
  for i := 0 to High(dyn) do dyn[i] := i * i;
  other := dyn;        // dynamic arrays are shared
  other[0] := 100;
  showmessage(IntToStr(dyn[0]) + ' ' + IntToStr(Length(dyn)) + ' ' + IntToStr(Total(dyn)));  // expect: 100 4 114
  SetLength(dyn, 2);
  showmessage(IntToStr(Length(dyn)) + ' ' + IntToStr(dyn[1]) + ' ' + IntToStr(Length(other)));  // expect: 2 1 4
  showmessage(IntToStr(Total([1, 2, 3])));          // expect: 6
  SetLength(matrix, 3, 2);
  matrix[2][1] := 7;
  sum := 0;
  for i := 0 to High(matrix) do
    for j := 0 to High(matrix[i]) do
      sum := sum + matrix[i][j] + 1;
  showmessage(IntToStr(sum));                       // expect: 13
  showmessage(Names[1] + ' ' + IntToStr(Integer('A')) + ' ' + Char(66) + ' ' + IntToStr(Byte(300)) + ' ' + IntToStr(Ord(TDay(4))));
  // expect: one 65 B 44 4
  if Sat in Weekend then showmessage('typed const');  // expect: typed const
  st := [fsBold, fsItalic];
  if (fsItalic in st) and not (fsUnderline in st) then showmessage(IntToStr(clRed) + ' ' + IntToStr(Ord(psDot)) + ' ' + IntToStr(Ord(pmXor)));
  // expect: 255 2 14
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
