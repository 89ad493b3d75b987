// Integer and real arithmetic with Pascal precedence and Delphi's wrapping.
program Arithmetic;
var
  i, j: Integer;
  big: Int64;
  c: Cardinal;
  b: Byte;
  r: Double;
begin
  showmessage(IntToStr(2 + 3 * 4 - 10 div 3));        // expect: 11
  showmessage(IntToStr((2 + 3) * 4 mod 7));           // expect: 6
  showmessage(IntToStr(-7 div 2) + ' ' + IntToStr(-7 mod 2)); // expect: -3 -1
  i := MaxInt;
  i := i + 1;
  showmessage(IntToStr(i));                           // expect: -2147483648
  big := 2147483647;
  big := big * 4;
  showmessage(IntToStr(big));                         // expect: 8589934588
  big := $7FFFFFFFFFFFFFFF;
  Inc(big);
  showmessage(IntToStr(big));                         // expect: -9223372036854775808
  c := 0;
  Dec(c);
  showmessage(IntToStr(c));                           // expect: 4294967295
  b := 250;
  b := b + 10;
  showmessage(IntToStr(b));                           // expect: 4
  showmessage(IntToStr(1 shl 4 or 1) + ' ' + IntToStr($F0 shr 4) + ' ' + IntToStr(6 and 3 xor 1)); // expect: 17 15 3
  showmessage(IntToStr(-1 shr 28));                   // expect: 15
  r := 7 / 2;
  showmessage(FloatToStr(r));                         // expect: 3.5
  r := 1 + 2 * 0.5;
  showmessage(FloatToStr(r));                         // expect: 2
  j := 3;
  r := j;
  showmessage(FloatToStr(r / 4));                     // expect: 0.75
  showmessage(FloatToStr(-r));                        // expect: -3
  showmessage(IntToStr(not 0) + ' ' + IntToStr(-(-5)));  // expect: -1 5
  showmessage(IntToStr(Abs(-4)) + ' ' + FloatToStr(Abs(-2.5)) + ' ' + IntToStr(Sqr(9)) + ' ' + FloatToStr(Sqrt(16)));
  // expect: 4 2.5 81 4
  showmessage(IntToStr(Round(2.5)) + ' ' + IntToStr(Round(3.5)) + ' ' + IntToStr(Round(-2.5)) + ' ' + IntToStr(Round(2.6)));
  // expect: 2 4 -2 3
  showmessage(IntToStr(Trunc(-2.7)) + ' ' + FloatToStr(Frac(2.25)) + ' ' + FloatToStr(Int(-2.7)));
  // expect: -2 0.25 -2
  if Odd(7) and not Odd(4) then showmessage('odd');   // expect: odd
  showmessage(IntToStr(Max(3, 9)) + ' ' + FloatToStr(Min(2.5, 1)));  // expect: 9 1
  showmessage(FloatToStr(1.5e3) + ' ' + FloatToStr(2.5E-3));  // expect: 1500 0.0025
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
