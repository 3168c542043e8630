' The collection from a script host: a script's array of strings, then of
' numbers, an index past the end, a later change to the script's array,
' and what Init refuses.
Set v = CreateObject("KRActive.VariantCol.1")
a = Array("one", "two", "three")
v.Init a
a(2) = "changed"
WScript.Echo "NumItems=" & v.NumItems & " " & TypeName(v.NumItems)
WScript.Echo "ItemVar(2)=" & v.ItemVar(2) & " " & TypeName(v.ItemVar(2))
WScript.Echo "ItemVar(5) empty=" & IsEmpty(v.ItemVar(5))
v.Init Array(7, CLng(8))
WScript.Echo "numbers=" & v.NumItems & " " & v.ItemVar(0) & " " & TypeName(v.ItemVar(0)) & " " & v.ItemVar(1) & " " & TypeName(v.ItemVar(1))
On Error Resume Next
v.Init "not a list"
WScript.Echo "text=" & Hex(Err.Number)
Err.Clear
Dim grid(1, 1)
v.Init grid
WScript.Echo "two dimensions=" & Hex(Err.Number) & " kept=" & v.NumItems
