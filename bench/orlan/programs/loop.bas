Sub Main()
  Dim i As Long, s As Long
  For i = 1 To 10000000
    s = (s + i * 3) And &HFFFF&
  Next
  Print s
End Sub
