Sub Main()
  Dim a(4999) As Long, i As Long, j As Long, t As Long, x As Long
  x = 12345
  For i = 0 To 4999
    x = (x * 1103 + 12345) And &H7FFF&
    a(i) = x
  Next
  For i = 0 To 4998
    For j = 0 To 4998 - i
      If a(j) > a(j + 1) Then
        t = a(j): a(j) = a(j + 1): a(j + 1) = t
      End If
    Next
  Next
  Print a(0) & " " & a(4999)
End Sub
