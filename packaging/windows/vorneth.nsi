; The Windows installer of the Vorneth host, built on Linux with makensis by
; the target vorneth-installer (packaging/VornethPackaging.cmake) from these
; defines:
;   VERSION                  a.b.c.d
;   WIN64                    defined for the 64-bit host: the installer is a
;                            64-bit program too, and installs for all users
;                            into $PROGRAMFILES64 instead of $PROGRAMFILES32
;   HOST, CLI                the built vorneth-host.exe and vorneth-cli.exe
;   REGISTER, QUENLOG        vorneth-register.exe and Quenlog.dll, when built
;   EXTENSION_ID             the extension allowed by the Chromium family
;   FIREFOX_EXTENSION_ID     the extension allowed by Firefox
;   OUTFILE                  the installer to write
;
; It installs for the current user (the default: $LOCALAPPDATA\Programs\Vorneth,
; keys under HKCU) or for all users (/ALLUSERS, or the choice on the first
; page: $PROGRAMFILES32\Vorneth for the 32-bit host, $PROGRAMFILES64\Vorneth
; for the 64-bit one, keys under HKLM, in the 64-bit view on 64-bit Windows,
; where the browsers read them). Both hosts register under the same names,
; so the one installed last in a scope is the one the browsers start.
; /CURRENTUSER asks for the default, /D=<folder> (the last argument) for
; another folder, /S for no window. Exit status 0 on success, 2 when it
; failed (for all users without administrator rights, a key that could not
; be written).
;
; Beside the host it writes the browsers' manifests with the host's real
; path; under each browser's key, the full path of its manifest. The
; uninstaller, registered in Add/Remove Programs under the same hive, removes
; the files, the keys and its entry; the host's data folder stays.

!ifdef WIN64
  Target amd64-unicode
  !define PROGRAM_FILES "$PROGRAMFILES64"
  !define DISPLAY_NAME "Vorneth host (64-bit)"
!else
  Unicode true
  !define PROGRAM_FILES "$PROGRAMFILES32"
  !define DISPLAY_NAME "Vorneth host"
!endif
RequestExecutionLevel highest
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include x64.nsh
!include nsDialogs.nsh

!define HOST_NAME "org.vorneth.host"
!define CHROMIUM_MANIFEST "org.vorneth.host.json"
!define FIREFOX_MANIFEST "org.vorneth.host.firefox.json"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vorneth"

Name "Vorneth"
OutFile "${OUTFILE}"
ShowInstDetails show

Var AllUsers    ; 1: for all users (HKLM), 0: for the current user (HKCU)
Var DirGiven    ; 1: /D= named the folder, which then stays whatever the scope
Var ModeCurrent ; the scope page's radio buttons
Var ModeAll

Page custom ScopePage ScopePageLeave
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Vorneth"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Vorneth host installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Vorneth developers"

; The browsers' keys, each holding the path of the manifest it reads. One
; list for installing and removing, so the two cannot drift.
!macro BROWSER_KEYS _macro
  !insertmacro ${_macro} "Software\Google\Chrome\NativeMessagingHosts" "${CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Chromium\NativeMessagingHosts" "${CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Microsoft\Edge\NativeMessagingHosts" "${CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\BraveSoftware\Brave-Browser\NativeMessagingHosts" "${CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Vivaldi\NativeMessagingHosts" "${CHROMIUM_MANIFEST}"
  !insertmacro ${_macro} "Software\Mozilla\NativeMessagingHosts" "${FIREFOX_MANIFEST}"
!macroend

!macro WRITE_BROWSER_KEY _key _manifest
  WriteRegStr SHCTX "${_key}\${HOST_NAME}" "" "$INSTDIR\${_manifest}"
!macroend

; The host's key, then each key above it that is left empty, up to
; Software (for a browser that is not installed the keys were ours).
!macro DELETE_BROWSER_KEY _key _manifest
  DeleteRegKey SHCTX "${_key}\${HOST_NAME}"
  StrCpy $R0 "${_key}"
  Call un.DeleteEmptyKeys
!macroend

; The scope's shell folders and registry hive, and its default folder
; unless /D= named one.
!macro APPLY_SCOPE
  ${If} $AllUsers == 1
    SetShellVarContext all
    ${If} $DirGiven != 1
      StrCpy $INSTDIR "${PROGRAM_FILES}\Vorneth"
    ${EndIf}
  ${Else}
    SetShellVarContext current
    ${If} $DirGiven != 1
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\Vorneth"
    ${EndIf}
  ${EndIf}
!macroend

; The 64-bit registry view on 64-bit Windows, where the browsers read their
; keys. The 64-bit installer runs there only (its ${RunningX64} is known
; while compiling, and an ${If} on it leaves labels unused).
!macro USE_64_BIT_REGISTRY_VIEW
  !ifdef WIN64
    SetRegView 64
  !else
    ${If} ${RunningX64}
      SetRegView 64
    ${EndIf}
  !endif
!macroend

; Leaves "Admin" on the stack when the installer runs with administrator
; rights.
!macro PUSH_ACCOUNT_TYPE
  UserInfo::GetAccountType
!macroend

Function .onInit
  StrCpy $DirGiven 0
  ${If} $INSTDIR != ""
    StrCpy $DirGiven 1
  ${EndIf}
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${EndIf}
  ClearErrors
  ${GetOptions} $0 "/CURRENTUSER" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 0
  ${EndIf}
  !insertmacro USE_64_BIT_REGISTRY_VIEW
  !insertmacro APPLY_SCOPE
  ; Without pages nobody can change the scope: refuse at once.
  ${If} ${Silent}
  ${AndIf} $AllUsers == 1
    !insertmacro PUSH_ACCOUNT_TYPE
    Pop $1
    ${If} $1 != "Admin"
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function ScopePage
  !insertmacro MUI_HEADER_TEXT "Who uses the Vorneth host" "Install it for yourself or for every user of this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 0 100% 12u "Only for me (no administrator rights needed)"
  Pop $ModeCurrent
  ${NSD_CreateRadioButton} 0 20u 100% 12u "For all users of this computer (needs administrator rights)"
  Pop $ModeAll
  ${If} $AllUsers == 1
    ${NSD_Check} $ModeAll
  ${Else}
    ${NSD_Check} $ModeCurrent
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ScopePageLeave
  ${NSD_GetState} $ModeAll $0
  ${If} $0 == ${BST_CHECKED}
    !insertmacro PUSH_ACCOUNT_TYPE
    Pop $1
    ${If} $1 != "Admin"
      MessageBox MB_ICONEXCLAMATION|MB_OK "Installing for all users needs administrator rights: start the installer as an administrator, or install it only for yourself."
      Abort
    ${EndIf}
    StrCpy $AllUsers 1
  ${Else}
    StrCpy $AllUsers 0
  ${EndIf}
  !insertmacro APPLY_SCOPE
FunctionEnd

; Writes $R1 to the file $R0 as UTF-8 without a byte-order mark (browsers
; read manifests as UTF-8; FileWrite would write the ANSI code page, which
; breaks a folder name outside it). Sets the error flag when it fails.
Function WriteUtf8File
  ClearErrors
  FileOpen $R2 $R0 w
  ${If} ${Errors}
    Return
  ${EndIf}
  System::Call "kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p 0, i 0, p 0, p 0) i .R3"
  System::Alloc $R3
  Pop $R4
  System::Call "kernel32::WideCharToMultiByte(i 65001, i 0, w R1, i -1, p R4, i R3, p 0, p 0) i .R3"
  IntOp $R3 $R3 - 1
  System::Call "kernel32::WriteFile(p R2, p R4, i R3, *i .R5, p 0) i .R6"
  System::Free $R4
  FileClose $R2
  ${If} $R6 == 0
  ${OrIf} $R5 != $R3
    SetErrors
  ${EndIf}
FunctionEnd

; The two manifests beside the host, naming it by its real path (in JSON, a
; backslash is written twice).
Function WriteManifests
  ${WordReplace} "$INSTDIR\vorneth-host.exe" "\" "\\" "+" $R7
  StrCpy $R8 '{$\r$\n  "name": "${HOST_NAME}",$\r$\n  "description": "Vorneth native add-on host",$\r$\n  "path": "$R7",$\r$\n  "type": "stdio",$\r$\n'
  StrCpy $R0 "$INSTDIR\${CHROMIUM_MANIFEST}"
  StrCpy $R1 '$R8  "allowed_origins": ["chrome-extension://${EXTENSION_ID}/"]$\r$\n}$\r$\n'
  Call WriteUtf8File
  ${If} ${Errors}
    Return
  ${EndIf}
  StrCpy $R0 "$INSTDIR\${FIREFOX_MANIFEST}"
  StrCpy $R1 '$R8  "allowed_extensions": ["${FIREFOX_EXTENSION_ID}"]$\r$\n}$\r$\n'
  Call WriteUtf8File
FunctionEnd

!macro FAIL_IF_ERRORS _what
  ${If} ${Errors}
    DetailPrint "Could not write ${_what}."
    SetErrorLevel 2
    Abort "Could not write ${_what}."
  ${EndIf}
!macroend

Section "Vorneth host" SecHost
  SectionIn RO
  ClearErrors
  SetOutPath "$INSTDIR"
  File "/oname=vorneth-host.exe" "${HOST}"
  File "/oname=vorneth-cli.exe" "${CLI}"
!ifdef REGISTER
  File "/oname=vorneth-register.exe" "${REGISTER}"
!endif
!ifdef QUENLOG
  ; Not beside the host: tracing stays off until the user copies it there
  ; (vorneth-register install --trace-library).
  SetOutPath "$INSTDIR\quenlog"
  File "/oname=Quenlog.dll" "${QUENLOG}"
  SetOutPath "$INSTDIR"
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro FAIL_IF_ERRORS "the files into $INSTDIR"

  Call WriteManifests
  !insertmacro FAIL_IF_ERRORS "the manifests into $INSTDIR"

  !insertmacro BROWSER_KEYS WRITE_BROWSER_KEY
  !insertmacro FAIL_IF_ERRORS "the browsers' registry keys"

  ; The uninstaller finds its scope in its own command line.
  ${If} $AllUsers == 1
    StrCpy $0 "/ALLUSERS"
  ${Else}
    StrCpy $0 "/CURRENTUSER"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${DISPLAY_NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Vorneth"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" $0 /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1
  !insertmacro FAIL_IF_ERRORS "the Add/Remove Programs entry"
SectionEnd

Function un.onInit
  !insertmacro USE_64_BIT_REGISTRY_VIEW
  ; The scope: from the command line the entry in Add/Remove Programs
  ; gives; otherwise for all users when the machine-wide entry names this
  ; folder.
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${Else}
    ClearErrors
    ${GetOptions} $0 "/CURRENTUSER" $1
    ${If} ${Errors}
      ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $1 == $INSTDIR
        StrCpy $AllUsers 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
FunctionEnd

; Deletes the key $R0 of SHCTX and then its parents, each only when it has
; neither subkeys nor values, stopping below Software.
Function un.DeleteEmptyKeys
  ${Do}
    ${If} $R0 == "Software"
    ${OrIf} $R0 == ""
      Return
    ${EndIf}
    DeleteRegKey /ifnosubkeys /ifnovalues SHCTX "$R0"
    ; The parent: $R0 up to its last backslash.
    StrLen $R1 $R0
    ${Do}
      IntOp $R1 $R1 - 1
      ${If} $R1 <= 0
        Return
      ${EndIf}
      StrCpy $R2 $R0 1 $R1
    ${LoopUntil} $R2 == "\"
    StrCpy $R0 $R0 $R1
  ${Loop}
FunctionEnd

Section "Uninstall"
  !insertmacro BROWSER_KEYS DELETE_BROWSER_KEY
  Delete "$INSTDIR\${CHROMIUM_MANIFEST}"
  Delete "$INSTDIR\${FIREFOX_MANIFEST}"
  Delete "$INSTDIR\vorneth-host.exe"
  Delete "$INSTDIR\vorneth-cli.exe"
  Delete "$INSTDIR\vorneth-register.exe"
  ; The copy that vorneth-register install --trace-library put beside the host.
  Delete "$INSTDIR\Quenlog.dll"
  Delete "$INSTDIR\quenlog\Quenlog.dll"
  RMDir "$INSTDIR\quenlog"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
