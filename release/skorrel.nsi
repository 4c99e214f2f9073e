; The installer of the plug-in, in the manner of the player's own plug-in installers: it finds the
; player's folder, puts gen_skorrel.dll and libssh2.dll into Plugins and libmysql.dll beside
; winamp.exe (never over a user's own), and registers an uninstaller that keeps the settings.
;
; scripts/release.sh compiles it with
;   VERSION  the release's version (CMake's project version)
;   TARGET   x86-unicode for the real, 32-bit installer; amd64-unicode only for the tests on
;            machines that cannot run 32-bit code
;   STAGE    the folder laid out as in the player's folder (Plugins\..., libmysql.dll)
;   DOCS     an include file that lists the files of Plugins\Skorrel: !macro DocFiles OP
;   SIZE_KB  what the installed files take, for "Add or remove programs"
;   OUTFILE  the installer to write

Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Skorrel"
!define SETTINGS_KEY "HKEY_CURRENT_USER\Software\Brenwick\Winamp Plugins\Skorrel"
; The player's main window: while it exists the player holds Plugins\gen_skorrel.dll open.
!define PLAYER_WINDOW_CLASS "Winamp v1.x"

Name "Skorrel ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Skorrel ${VERSION}"
; Left empty so that .onInit can tell a folder given with /D= from none given.
InstallDir ""

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Skorrel"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Skorrel ${VERSION} setup (Winamp plug-in)"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT licence"

!define MUI_ABORTWARNING
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs Skorrel into the Plugins folder of Winamp. Choose Winamp's folder, the one that holds winamp.exe."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp's folder"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Skorrel is installed. Start Winamp and open Preferences > Plug-ins > General Purpose > [kiv] Skorrel to configure it. The user's guide is in Plugins\Skorrel\guide.txt."
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Skorrel's files will be removed from Winamp's folder. Your settings stay in the registry under ${SETTINGS_KEY}; delete that key yourself to remove them too."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro InstallDoc NAME
  File "${STAGE}\Plugins\Skorrel\${NAME}"
!macroend
!macro RemoveDoc NAME
  Delete "$INSTDIR\${NAME}"
!macroend
!include "${DOCS}"

; Asks the user to close the player while it runs; a silent run gives up with exit code 3.
!macro PlayerClosedFunction UN
Function ${UN}PlayerClosed
  ${Do}
    FindWindow $0 "${PLAYER_WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Winamp is running. Close Winamp, then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 3
    Quit
  retry:
  ${Loop}
FunctionEnd
!macroend
!insertmacro PlayerClosedFunction ""
!insertmacro PlayerClosedFunction "un."

; The player's folder when /D= names none: where the player registered itself, else where it
; installs by default.
Function .onInit
  Call PlayerClosed
  ${If} $INSTDIR == ""
    ReadRegStr $0 HKCU "Software\Winamp" ""
    ${If} ${FileExists} "$0\winamp.exe"
      StrCpy $INSTDIR $0
    ${ElseIf} ${FileExists} "$PROGRAMFILES32\Winamp\winamp.exe"
      StrCpy $INSTDIR "$PROGRAMFILES32\Winamp"
    ${ElseIf} ${FileExists} "$PROGRAMFILES64\Winamp\winamp.exe"
      StrCpy $INSTDIR "$PROGRAMFILES64\Winamp"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES32\Winamp"
    ${EndIf}
  ${EndIf}
  ${If} ${Silent}
  ${AndIfNot} ${FileExists} "$INSTDIR\winamp.exe"
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR is not Winamp's folder: winamp.exe is not there." /SD IDOK
    SetErrorLevel 4
    Quit
  ${EndIf}
FunctionEnd

Function .onVerifyInstDir
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    Abort
  ${EndIf}
FunctionEnd

Section "Skorrel"
  ; The player may have been started while the pages were shown.
  Call PlayerClosed

  SetOutPath "$INSTDIR\Plugins"
  File "${STAGE}\Plugins\gen_skorrel.dll"
  File "${STAGE}\Plugins\libssh2.dll"

  ; A client library that is there already is the user's, unless an earlier Skorrel put it there.
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "InstalledLibmysql"
  ${If} $1 == 1
  ${OrIfNot} ${FileExists} "$INSTDIR\libmysql.dll"
    SetOutPath "$INSTDIR"
    File "${STAGE}\libmysql.dll"
    StrCpy $1 1
  ${Else}
    DetailPrint "Kept the libmysql.dll that was already in $INSTDIR"
    StrCpy $1 0
  ${EndIf}

  SetOutPath "$INSTDIR\Plugins\Skorrel"
  !insertmacro DocFiles InstallDoc
  WriteUninstaller "$INSTDIR\Plugins\Skorrel\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Skorrel (Winamp plug-in)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Skorrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\Skorrel\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\Skorrel\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "InstalledLibmysql" $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Function un.onInit
  Call un.PlayerClosed
FunctionEnd

; The uninstaller lives in Plugins\Skorrel, so $INSTDIR is that folder here.
Section "Uninstall"
  ${GetParent} "$INSTDIR" $R0
  ${GetParent} "$R0" $R1
  Delete "$R0\gen_skorrel.dll"
  Delete "$R0\libssh2.dll"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "InstalledLibmysql"
  ${If} $0 == 1
    Delete "$R1\libmysql.dll"
  ${EndIf}
  !insertmacro DocFiles RemoveDoc
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DetailPrint "Your settings stay under ${SETTINGS_KEY}."
SectionEnd
