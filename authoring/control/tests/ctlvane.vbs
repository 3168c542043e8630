' Ctlvane from a script host: created by ProgID, encWidth written and read.
Set c = CreateObject("KRACTIVE.KRActiveCtrl.1")
c.encWidth = 320
WScript.Echo "encWidth=" & c.encWidth
c.encWidth = 79
WScript.Echo "refused=" & c.encWidth
c.baseFrameRate = 35
WScript.Echo "baseFrameRate=" & c.baseFrameRate & " " & TypeName(c.baseFrameRate)
WScript.Echo "SetPortNumber=" & Hex(c.SetPortNumber(8000, 8002, 8003))
WScript.Echo "statRefreshRate=" & c.statRefreshRate
