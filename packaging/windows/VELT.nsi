; The VELT installer: the files into Program Files, a Start-menu entry, an inbound
; firewall rule for UDP 55555 limited to VELT.exe (so that readings from other machines
; are not blocked at the first start), an entry in the installed programs, and an
; uninstaller that removes all of it. /S installs and uninstalls silently.
; makensis -DVERSION=... -DSTAGE=folder -DFILES=list of Delete/RMDir lines -DOUTFILE=...
Unicode true
; A 64-bit installer: the program is 64-bit only, and 64-bit Wine runs it without wine32.
Target amd64-unicode
SetCompressor /SOLID lzma
!include x64.nsh
!include LogicLib.nsh

!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VELT"
!define RULE "VELT (UDP 55555)"

Name "VELT ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\VELT"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
RequestExecutionLevel admin
Icon "${ICON}"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Czech.nlf"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1029 "ProductName" "VELT"
VIAddVersionKey /LANG=1029 "FileDescription" "Instalace programu VELT"
VIAddVersionKey /LANG=1029 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1029 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1029 "CompanyName" "VELT"
VIAddVersionKey /LANG=1029 "LegalCopyright" "VELT"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "VELT potřebuje 64bitová Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\VELT.lnk" "$INSTDIR\VELT.exe" "" "$INSTDIR\VELT.exe" 0
  ; Replaces a rule left by an earlier version.
  nsExec::Exec 'netsh advfirewall firewall delete rule name="${RULE}"'
  Pop $0
  nsExec::Exec 'netsh advfirewall firewall add rule name="${RULE}" dir=in action=allow protocol=UDP localport=55555 program="$INSTDIR\VELT.exe" enable=yes'
  Pop $0
  ${If} $0 != 0
    DetailPrint "Pravidlo brány firewall se nepodařilo přidat ($0)."
  ${EndIf}
  WriteRegStr HKLM "${KEY}" "DisplayName" "VELT"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "VELT"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\VELT.exe"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  nsExec::Exec 'netsh advfirewall firewall delete rule name="${RULE}"'
  Pop $0
  SetShellVarContext all
  Delete "$SMPROGRAMS\VELT.lnk"
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: a folder the user chose may hold files of their own.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
