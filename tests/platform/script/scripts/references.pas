// A var parameter keeps its variable alive: resizing or replacing what holds
// it meanwhile leaves the write harmless instead of touching freed memory.
type
  TRec = record Name: string; Count: Integer; end;
var
  a: array of Integer;
  recs: array of TRec;
  r: TRec;

procedure Grow(var x: Integer);
begin
  SetLength(a, 1000);   // a new array: x still names the old element
  x := 5;
end;

procedure Replace(var n: Integer);
var other: TRec;
begin
  other.Count := 7;
  recs[0] := other;     // copied into the same record: n still names its field
  n := n + 1;
end;

procedure Shrink(var s: string);
begin
  SetLength(recs, 0);
  s := s + '!';
end;

begin
  SetLength(a, 1);
  a[0] := 1;
  Grow(a[0]);
  showmessage(IntToStr(a[0]) + ' ' + IntToStr(Length(a)));     // expect: 1 1000
  SetLength(recs, 1);
  Replace(recs[0].Count);
  showmessage(IntToStr(recs[0].Count));                          // expect: 8
  recs[0].Name := 'name';
  Shrink(recs[0].Name);
  showmessage(IntToStr(Length(recs)));                           // expect: 0
  r.Name := 'r';
  with r do
  begin
    r.Name := r.Name + 'x';
    Name := Name + 'y';
  end;
  showmessage(r.Name);                                           // expect: rxy
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
