' The runner benchmark's loop in Orlan: one addition and one counted branch
' per pass, 1,000,000 passes.
Sub main()
  Dim i As Long
  Dim n As Long
  n = 1000000
  Do While n > 1
    i = i + 1
    n = n - 1
  Loop
  Print i
End Sub
