// File checks (the tests run in this folder), random numbers and the date texts of the locale.
var
  i, k: Integer;
  r: Double;
  ok: Boolean;
begin
  if FileExists('files_random.pas') and not FileExists('inc') and not FileExists('missing.pas') then
    showmessage('files');                        // expect: files
  if DirectoryExists('inc') and not DirectoryExists('files_random.pas') then
    showmessage('folders');                      // expect: folders
  Randomize;
  ok := True;
  for k := 1 to 1000 do
  begin
    i := Random(6);
    r := Random;
    ok := ok and (i >= 0) and (i < 6) and (r >= 0) and (r < 1);
  end;
  if ok then showmessage('random');              // expect: random
  if (DateToStr(EncodeDate(2024, 5, 17)) <> '') and (TimeToStr(0.5) <> '') and (DateTimeToStr(Now) <> '') then
    showmessage('date texts');                   // expect: date texts
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
