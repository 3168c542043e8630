' Drives the sample control the way a script host does: created by its
' version-independent ProgID, with no site and no window.
Set c = CreateObject("KrSampleControl.SampleControl")
c.Level = 20
c.Caption = "from script"
WScript.Echo "Level=" & c.Level & " Caption=" & c.Caption
c.Level = 500
WScript.Echo "Refused=" & c.Level
n = c.Measure("one two three", length, upper, words)
WScript.Echo "Measure=" & n & " " & length & " " & upper & " " & words
c.Note = 12
WScript.Echo "Note=" & TypeName(c.Note) & " " & c.Note
On Error Resume Next
c.Count = "many"
WScript.Echo "Count=Error " & Hex(Err.Number)
