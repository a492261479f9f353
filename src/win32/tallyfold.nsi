; The 64-bit Windows installer of Norrow Tallyfold: the folder that
; `cmake --install` makes from the Windows build, under Program Files, with
; a Start-menu shortcut to the window under its Chinese name and an
; uninstaller, also listed under the system's installed programs.
;
;   cmake --install build-windows --prefix build-windows/stage
;   makensis -INPUTCHARSET UTF8 -DSTAGE=build-windows/stage \
;            -DOUTFILE=build-windows/tallyfold-1.0-setup.exe src/win32/tallyfold.nsi
;
; (scripts/windows-installer does both.) /S installs and uninstalls
; silently; /D=FOLDER, last on the command line, installs elsewhere.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef STAGE
  !error "Give the installed folder: -DSTAGE=..."
!endif
!ifndef OUTFILE
  !define OUTFILE "tallyfold-1.0-setup.exe"
!endif
!define NAME "检索工具"
!define PRODUCT "Norrow Tallyfold"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tallyfold"

Name "${NAME} — ${PRODUCT} 1.0"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tallyfold"
RequestExecutionLevel admin
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\tallyfold.exe" "" "$INSTDIR\tallyfold.exe" 0
  CreateShortcut "$SMPROGRAMS\${NAME}\卸载 ${NAME}.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME} (${PRODUCT})"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "1.0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Norrow"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tallyfold.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\卸载 ${NAME}.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  ; Only what the installer put there; the user's reports and settings
  ; live under %APPDATA% and stay.
  Delete "$INSTDIR\tallyfold.exe"
  Delete "$INSTDIR\tallyfold-cli.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\result.css"
  RMDir /r "$INSTDIR\samples"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
