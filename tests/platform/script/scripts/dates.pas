// Dates are Doubles counted from 30 December 1899.
var
  d: TDateTime;
  y, m, dd: Word;
  h, n, s, ms: Word;
begin
  d := EncodeDate(2024, 2, 29);
  showmessage(FloatToStr(d));                                // expect: 45351
  showmessage(FormatDateTime('yyyy-mm-dd', d + 1));          // expect: 2024-03-01
  d := d + EncodeTime(13, 5, 9, 0);
  showmessage(FormatDateTime('dd.mm.yy hh"h"nn"m"ss', d));  // expect: 29.02.24 13h05m09
  DecodeDate(d, y, m, dd);
  DecodeTime(d, h, n, s, ms);
  showmessage(Format('%d %d %d %d %d %d', [y, m, dd, h, n, s]));  // expect: 2024 2 29 13 5 9
  showmessage(FloatToStr(EncodeDate(1899, 12, 30)));         // expect: 0
  if (Now > EncodeDate(2020, 1, 1)) and (Date <= Now) and (Time < 1) then showmessage('clock');  // expect: clock
  d := EncodeDate(2023, 2, 29);
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (17:8): Invalid argument to date encode
// expect-exit: 1
