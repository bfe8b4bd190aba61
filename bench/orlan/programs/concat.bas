Sub Main()
  Dim s As String, chunk As String, i As Long
  chunk = String(1024, "x")
  For i = 1 To 1024
    s = s & chunk
  Next
  Print Len(s)
End Sub
