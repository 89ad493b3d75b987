// The actions' procedures and the program's routines, constants and types,
// with their arguments converted to the declared types.
var
  p: TPoint;
  r: TRect;
  al: TAlignment;
  v: Integer;
  g: TCLSID;
  icons: TBorderIcons;
  odState: TOwnerDrawState;
  key: TSHORTCUT;
  mode: TSavePreferences;
begin
  v := 40;
  Volume(v + 2);                                  // expect: Volume = 42
  setMute(v > 10);                                // expect: Mute = True
  Mute;                                           // expect: Mute = False
  Title('caf' + #233);                            // expect: Title = café
  Title('x');                                     // expect: Title = x
  Speed(2);                                       // expect: Speed = 2
  Speed(1 / 4);                                   // expect: Speed = 0.25
  Back(clRed);                                    // expect: Back = 255
  Back(clMoneyGreen);                             // expect: Back = 12639424
  Origin(-3, 7);                                  // expect: Origin = (-3, 7)
  Area(1, 2, 3, 4);                               // expect: Area = Left 1, Top 3, Right 2, Bottom 4
  Font('Arial', 12, clBlue, True, False, False, True);  // expect: Font = Arial, 12, 16711680, Bold+StrikeOut
  Beep;                                           // expect: Beep
  Copy;                                           // expect: Copy
  Copy();                                         // expect: Copy
  showmessage(Copy('abcdef', 2, 3) + Copy('xyz', 2, 9));  // expect: bcdyz
  showmessage(extractfilename('/tmp/dir/name.txt') + ' ' + extractfileext('a/b.pas') + ' ' + changefileext('x.txt', '.pas'));
  // expect: name.txt .pas x.pas
  showmessage(extractfilepath('/tmp/dir/name.txt'));  // expect: /tmp/dir/
  showmessage(IntToStr(SecsPerDay) + ' ' + IntToStr(MSecPerDay));  // expect: 86400 86400000
  p.x := 1; p.y := 2;
  r.Left := p.x; r.Bottom := p.y;
  al := taCenter;
  showmessage(IntToStr(r.Left + r.Bottom) + ' ' + IntToStr(Ord(al)) + ' ' + IntToStr(Ord(wsMaximized)));  // expect: 3 2 2
  g.D4[7] := 255;
  g.D1 := $FFFFFFFF;
  icons := [biSystemMenu, biHelp];
  odState := [odFocused, odComboBoxEdit];
  key := 65535 + 2;
  mode := spNone;
  if (biHelp in icons) and (odComboBoxEdit in odState) then
    showmessage(IntToStr(g.D4[7] + g.D1) + ' ' + IntToStr(key) + ' ' + IntToStr(Ord(mode)) + ' ' + IntToStr(Ord(bsSizeToolWin)) + ' ' + IntToStr(Ord(tlBottom)));
  // expect: 254 1 2 5 2
  sleep(1);
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
