; The installer of the plug-in, in the manner of the player's own plug-in installers: it finds the
; player's folder, puts gen_skorrel.dll, skorrel_sqlite3.dll and libssh2.dll into Plugins and
; libmysql.dll beside winamp.exe (never over a user's own), and registers an uninstaller that
; keeps the settings.
;
; Each player folder keeps its own record of the libmysql.dll an install put there, by size and
; SHA-256, in Plugins\Skorrel\installed.ini: an install replaces, and the uninstaller removes, a
; libmysql.dll only while it is still that file, so a user's own, or one the user put over ours,
; stays, whichever folders were installed into and in whatever order.
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
; Relative to a player folder.
!define RECORD "Plugins\Skorrel\installed.ini"

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

; FileFacts: the size and the SHA-256 (lower-case hex) of the file $R0, into $R1 and $R2; both
; empty when it cannot be read. NSIS has no file hash of its own, so Windows' CryptoAPI does it
; (PROV_RSA_AES, CALG_SHA_256: Windows XP SP3 and later); a megabyte takes milliseconds.
; OwnLibmysql: whether the libmysql.dll of the player folder $R0 is still the file that the
; folder's record names, in $R3 (1 or 0). Both use $0-$9 and $R1-$R5.
!macro LibmysqlFunctions UN
Function ${UN}FileFacts
  StrCpy $R1 ""
  StrCpy $R2 ""
  ClearErrors
  FileOpen $3 "$R0" r
  ${If} ${Errors}
    Return
  ${EndIf}
  System::Call 'advapi32::CryptAcquireContextW(*p .r1, p 0, p 0, i 24, i 0xF0000000) i .r0'
  ${If} $0 != 0
    System::Call 'advapi32::CryptCreateHash(p r1, i 0x800C, p 0, i 0, *p .r2) i .r0'
    ${If} $0 != 0
      System::Alloc 65536
      Pop $4
      ; $6 counts the bytes hashed, and is emptied by a read or hash that fails.
      StrCpy $6 0
      ${Do}
        System::Call 'kernel32::ReadFile(p r3, p r4, i 65536, *i .r5, p 0) i .r0'
        ${If} $0 == 0
          StrCpy $6 ""
          ${Break}
        ${ElseIf} $5 == 0
          ${Break}
        ${EndIf}
        System::Call 'advapi32::CryptHashData(p r2, p r4, i r5, i 0) i .r0'
        ${If} $0 == 0
          StrCpy $6 ""
          ${Break}
        ${EndIf}
        IntOp $6 $6 + $5
      ${Loop}
      ${If} $6 != ""
        System::Call 'advapi32::CryptGetHashParam(p r2, i 2, p r4, *i 32 r7, i 0) i .r0'
        ${If} $0 != 0
          StrCpy $R1 $6
          StrCpy $9 0
          ${DoWhile} $9 < $7
            System::Call '*$4(&i$9, &i1 .r8)'
            IntFmt $8 "%02x" $8
            StrCpy $R2 "$R2$8"
            IntOp $9 $9 + 1
          ${Loop}
        ${EndIf}
      ${EndIf}
      System::Free $4
      System::Call 'advapi32::CryptDestroyHash(p r2)'
    ${EndIf}
    System::Call 'advapi32::CryptReleaseContext(p r1, i 0)'
  ${EndIf}
  FileClose $3
FunctionEnd

Function ${UN}OwnLibmysql
  StrCpy $R3 0
  ReadINIStr $R4 "$R0\${RECORD}" "libmysql.dll" "Size"
  ReadINIStr $R5 "$R0\${RECORD}" "libmysql.dll" "SHA256"
  ${If} $R5 == ""
    Return
  ${EndIf}
  Push $R0
  StrCpy $R0 "$R0\libmysql.dll"
  Call ${UN}FileFacts
  Pop $R0
  ${If} $R1 != ""
  ${AndIf} $R1 == $R4
  ${AndIf} $R2 == $R5
    StrCpy $R3 1
  ${EndIf}
FunctionEnd
!macroend
!insertmacro LibmysqlFunctions ""
!insertmacro LibmysqlFunctions "un."

; Installers before the record kept one flag, "InstalledLibmysql", in the uninstall key, true of
; the folder that the same install wrote beside it as InstallLocation and of no other. That fact
; moves into that folder's record, and the flag goes, so that no uninstaller of such an install
; acts on it for another folder (those uninstallers then keep every libmysql.dll).
Function MoveFlagIntoRecord
  ReadRegDWORD $R6 HKLM "${UNINSTALL_KEY}" "InstalledLibmysql"
  ReadRegStr $R7 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R6 == 1
  ${AndIf} $R7 != ""
  ${AndIf} ${FileExists} "$R7\Plugins\Skorrel\uninstall.exe"
  ${AndIf} ${FileExists} "$R7\libmysql.dll"
  ${AndIfNot} ${FileExists} "$R7\${RECORD}"
    StrCpy $R0 "$R7\libmysql.dll"
    Call FileFacts
    ${If} $R2 != ""
      WriteINIStr "$R7\${RECORD}" "libmysql.dll" "Installed" 1
      WriteINIStr "$R7\${RECORD}" "libmysql.dll" "Size" $R1
      WriteINIStr "$R7\${RECORD}" "libmysql.dll" "SHA256" $R2
      FlushINI "$R7\${RECORD}"
    ${EndIf}
  ${EndIf}
  DeleteRegValue HKLM "${UNINSTALL_KEY}" "InstalledLibmysql"
FunctionEnd

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
  ; Before anything is written, so that it sees the earlier install as that install left it.
  Call MoveFlagIntoRecord

  SetOutPath "$INSTDIR\Plugins"
  File "${STAGE}\Plugins\gen_skorrel.dll"
  File "${STAGE}\Plugins\skorrel_sqlite3.dll"
  File "${STAGE}\Plugins\libssh2.dll"

  SetOutPath "$INSTDIR\Plugins\Skorrel"
  !insertmacro DocFiles InstallDoc
  WriteUninstaller "$INSTDIR\Plugins\Skorrel\uninstall.exe"

  ; A client library that is there already is the user's, unless this folder's record says an
  ; earlier install put that very file there.
  StrCpy $R0 $INSTDIR
  Call OwnLibmysql
  ${If} $R3 == 1
  ${OrIfNot} ${FileExists} "$INSTDIR\libmysql.dll"
    SetOutPath "$INSTDIR"
    File "${STAGE}\libmysql.dll"
    StrCpy $R0 "$INSTDIR\libmysql.dll"
    Call FileFacts
    WriteINIStr "$INSTDIR\${RECORD}" "libmysql.dll" "Installed" 1
    WriteINIStr "$INSTDIR\${RECORD}" "libmysql.dll" "Size" $R1
    WriteINIStr "$INSTDIR\${RECORD}" "libmysql.dll" "SHA256" $R2
  ${Else}
    DetailPrint "Kept the libmysql.dll that was already in $INSTDIR"
    ; Written all the same: a folder without a record is one that only an older installer knew.
    DeleteINISec "$INSTDIR\${RECORD}" "libmysql.dll"
    WriteINIStr "$INSTDIR\${RECORD}" "libmysql.dll" "Installed" 0
  ${EndIf}
  FlushINI "$INSTDIR\${RECORD}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Skorrel (Winamp plug-in)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Skorrel developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\Skorrel\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\Skorrel\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

Function un.onInit
  Call un.PlayerClosed
FunctionEnd

; The uninstaller lives in Plugins\Skorrel, so $INSTDIR is that folder here.
Section "Uninstall"
  ${GetParent} "$INSTDIR" $R6
  ${GetParent} "$R6" $R7
  Delete "$R6\gen_skorrel.dll"
  Delete "$R6\skorrel_sqlite3.dll"
  Delete "$R6\libssh2.dll"
  StrCpy $R0 $R7
  Call un.OwnLibmysql
  ${If} $R3 == 1
    Delete "$R7\libmysql.dll"
  ${ElseIf} ${FileExists} "$R7\libmysql.dll"
    DetailPrint "Kept $R7\libmysql.dll: Skorrel did not install it, or it was replaced since"
  ${EndIf}
  Delete "$R7\${RECORD}"
  !insertmacro DocFiles RemoveDoc
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The one entry belongs to the folder installed into last; another folder's uninstaller leaves it.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $R7
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  DetailPrint "Your settings stay under ${SETTINGS_KEY}."
SectionEnd
