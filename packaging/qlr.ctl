; /etc/quillor/qlr.ctl: the control file of qlr (see qlr(1)).
;
; qlr reads the file qlr.ctl beside its executable; /usr/lib/quillor/qlr.ctl
; is a link to this file. A semicolon starts a comment (there is no escape
; for it); keywords ignore case; blank lines are ignored. Until a Base line
; is given, a run only says "nothing to archiving..." and ends with exit
; code 1.
;
; @Define NAME VALUE defines a macro for the lines after it: each NAME in
; them is replaced by VALUE.
;
;@Define FIDO /var/spool/ftn

; Rotate a base that holds more messages than this (default 0: every base
; that holds a message). A leading $ gives the number in hexadecimal.
MaxMessages 500

; One line per base: the base spec, then the directory that receives the
; numbered copies (00000000, 00000001, ...). The first character of the
; base spec gives its format:
;   # or F   a directory of *.msg files
;   ! or J   a JAM base (the path without .jhr, .jdt, .jdx)
;   $ or S   a Squish base (the path without .sqd, .sqi)
;   P        a type-2 packet (the path without .pkt)
; Without one the extension decides (area.jhr is JAM, area.sqd Squish,
; in.pkt a packet); a path without an extension is a *.msg directory.
;
;Base #FIDO/netmail        FIDO/old/netmail
;Base !FIDO/jam/local       FIDO/old/local
;Base $FIDO/squish/chat    FIDO/old/chat
;Base PFIDO/bad/bad        FIDO/old/bad

; Pack mode (qlr /p) hands each new copy to this command, run through
; /bin/sh -c (or $COMSPEC when set). @ArcName and @FileName both stand for
; the copy directory, without an extension. The copy is removed only when
; the command ends with exit code 0 and leaves a non-empty archive named
; by the copy and Arc.Extension (given without its dot).
Arc.Extension tgz
Arc.Add tar -czf @ArcName.tgz -C @FileName .
