; qlr.ctl: the control file of qlr.exe, read from the directory that holds
; qlr.exe (never the current directory). A semicolon starts a comment;
; keywords ignore case. See README-windows.txt.

@Define FIDO C:\FIDO

; Rotate a base that holds more messages than this.
MaxMessages 500

; The base spec, then the directory that receives the numbered copies.
;   # a directory of *.msg files   ! JAM   $ Squish   P a type-2 packet
;Base #FIDO\NETMAIL        FIDO\OLD\NETMAIL
;Base !FIDO\JAM\LOCAL      FIDO\OLD\LOCAL
;Base $FIDO\SQUISH\CHAT    FIDO\OLD\CHAT

; Pack mode (qlr.exe /p) runs Arc.Add through %COMSPEC% /C. @ArcName and
; @FileName both stand for the copy directory, without an extension.
Arc.Extension zip
Arc.Add 7z a -tzip @ArcName.zip @FileName\*
; or, with Info-ZIP:
;Arc.Add zip -j @ArcName.zip @FileName\*.*
