// Include files and conditional compilation.
{$DEFINE FIRST}
{$I inc/shared.inc}
{$INCLUDE 'inc/other.inc'}
begin
  {$IFDEF FIRST}
  showmessage('first ' + IntToStr(Twice(21)));   // expect: first 42
  {$ELSE}
  showmessage('not first');
  {$ENDIF}
  {$UNDEF FIRST}
  {$IFNDEF FIRST}
  showmessage('undefined');                      // expect: undefined
    {$IFDEF NEVER}
    showmessage('nested');
    {$ELSE}
    showmessage('nested else');                  // expect: nested else
    {$ENDIF}
  {$ENDIF}
  {$IFDEF NEVER} {$I does-not-exist.inc} {$ENDIF}
  {$R+} {$HINTS OFF} // unknown directives mean nothing
  (* a comment {$DEFINE HIDDEN} spanning
     lines *)
  {$IFDEF HIDDEN} showmessage('hidden'); {$ENDIF}
  showmessage(Other);                            // expect: other
end.
// expect: *** Compilation succeeded ***
// expect: *** Succesfully Executed ***
