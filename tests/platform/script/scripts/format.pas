// Format and FloatToStr follow Delphi, with '.' as decimal separator.
begin
  showmessage(Format('%d|%5d|%-5d|%.4d|%3d', [42, 42, 42, 42, -7]));      // expect: 42|   42|42   |0042| -7
  showmessage(Format('%s-%s|%6s|%-6s|%.2s', ['a', 'b', 'abc', 'abc', 'abcdef']));  // expect: a-b|   abc|abc   |ab
  showmessage(Format('%f|%.1f|%.0f|%8.3f|%n', [3.14159, 2.25, 2.5, -1.5, 1234567.891]));
  // expect: 3.14|2.3|3|  -1.500|1,234,567.89
  showmessage(Format('%e|%.3e', [1234.5, 0.000123]));  // expect: 1.23450000000000E+003|1.23E-004
  showmessage(Format('%g|%g|%g', [0.5, 1e20, 123456.0]));  // expect: 0.5|1E20|123456
  showmessage(Format('%x|%.4x|%u|%%', [255, 10, -1]));  // expect: FF|000A|4294967295|%
  showmessage(Format('%1:s %0:s %s', ['a', 'b']));      // expect: b a b
  showmessage(Format('%03d', [7]));                    // expect:   7
  showmessage(Format('%*d|%.*f', [4, 5, 1, 2.25]));     // expect:    5|2.3
  showmessage(FloatToStr(0.1) + ' ' + FloatToStr(1/3) + ' ' + FloatToStr(100) + ' ' + FloatToStr(-0.5));
  // expect: 0.1 0.333333333333333 100 -0.5
  showmessage(FloatToStr(1e15) + ' ' + FloatToStr(123456789012345) + ' ' + FloatToStr(0.0001) + ' ' + FloatToStr(0.00001));
  // expect: 1E15 123456789012345 0.0001 1E-5
  showmessage(FloatToStr(2.5e-10) + ' ' + FloatToStr(1.0e300 * 1.0e300) + ' ' + FloatToStr(12.5));
  // expect: 2.5E-10 INF 12.5
  showmessage(Format('%d %s', [1]));
end.
// expect: *** Compilation succeeded ***
// expect: ### Error while executing: [Runtime Error] (19:15): Format '%d %s' invalid or incompatible with argument
// expect-exit: 1
