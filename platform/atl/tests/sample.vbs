' Drives the sample object the way a script host does: late-bound, by its
' version-independent ProgID. The C++ client expects the same lines.
Set o = CreateObject("KrAtlSample.SampleObject")
o.Count = 7
WScript.Echo "Count=" & o.Count
WScript.Echo "Add=" & o.Add("5")
joined = o.Join("-", Array("a", "b", 3), n)
WScript.Echo "Join=" & joined & " n=" & n
parts = o.Split("x,y,z", ",")
WScript.Echo "Split=" & UBound(parts) & " " & parts(2)
On Error Resume Next
o.Join "-", 5, n
WScript.Echo "Error=" & Hex(Err.Number) & " " & Err.Description
