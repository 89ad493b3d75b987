// Procedures and functions: parameters by value, const and var, recursion,
// nested routines reaching their parents' locals, forward declarations.
program Routines;

var
  g: Integer;

function Fib(n: Integer): Integer; forward;

procedure Swap(var a, b: Integer);
var t: Integer;
begin
  t := a; a := b; b := t;
end;

procedure Bump(x: Integer; const y: Integer; var z: Integer);
begin
  x := x + 100;   // a copy
  z := z + x + y;
end;

function Fib(n: Integer): Integer;
begin
  if n < 2 then
    Fib := n
  else
    Fib := Fib(n - 1) + Fib(n - 2);
end;

function Outer(n: Integer): Integer;
var total: Integer;

  procedure Add(k: Integer);
  begin
    total := total + k * n;
  end;

  function Twice: Integer;
    function Deeper: Integer;
    begin
      Deeper := total + g;
    end;
  begin
    Result := Deeper * 2;
  end;

var i: Integer;
begin
  total := 0;
  for i := 1 to 3 do Add(i);
  Result := Twice;
end;

function Count(n: Integer): Integer;
begin
  if n = 0 then Exit(0);
  Result := 1 + Count(n - 1);
end;

procedure SetGlobal;
begin
  g := 7;
end;

var a, b, c: Integer;
    s: string;

procedure Append(var t: string; const what: string);
begin
  t := t + what;
end;

begin
  a := 1; b := 2;
  Swap(a, b);
  showmessage(IntToStr(a) + IntToStr(b));   // expect: 21
  c := 5;
  Bump(a, b, c);
  showmessage(IntToStr(a) + ' ' + IntToStr(c));  // expect: 2 108
  showmessage(IntToStr(Fib(20)));           // expect: 6765
  SetGlobal;
  showmessage(IntToStr(Outer(2)));          // expect: 38
  showmessage(IntToStr(Count(500)));        // expect: 500
  s := 'a';
  Append(s, 'b');
  Append(s, s);
  showmessage(s);                           // expect: abab
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
