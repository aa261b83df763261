; The Windows installer. Built by scripts/package.sh, which passes:
;   VERSION    the version written to the store
;   VERSION_QUAD  the same as four numbers, for the version resource
;   BIN_DIR    the folder holding the built programs
;   WEB_DIR    the web interface's folder
;   DEFAULTS   the defaults .reg file
;   OUTFILE    the setup program to write
; It accepts /S and, for the updater, /VERYSILENT (any case).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include FileFunc.nsh
!include LogicLib.nsh
!include StrFunc.nsh
${StrStr}

!define STORE_KEY "SOFTWARE\Quietway2"
!define PRODUCT "Quietway"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quietway"
; The network adapters' class: one subkey per adapter, its description in DriverDesc.
!define NET_CLASS_KEY "SYSTEM\CurrentControlSet\Control\Class\{4D36E972-E325-11CE-BFC1-08002BE10318}"
!define TAP_DESCRIPTION "TAP-Windows Adapter V9"
!define NO_TAP_TEXT "No TAP adapter was found. OpenVPN connections need the TAP-Windows adapter driver (NDIS 6, tap0901): install it, then connect. SSH tunnels work without it."

Var TapFound

Name "${PRODUCT}"
OutFile "${OUTFILE}"
!include "${__FILEDIR__}\version_info.nsh"
InstallDir "$PROGRAMFILES64\Quietway"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/VERYSILENT" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
  ; An installation already in place is updated where it is.
  ReadRegStr $R2 HKLM "${STORE_KEY}\app" "app_dir"
  ${If} $R2 != ""
    StrCpy $INSTDIR $R2
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
  ${un.GetParameters} $R0
  ClearErrors
  ${un.GetOptions} $R0 "/VERYSILENT" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
FunctionEnd

; Runs a service program's command-line action; the host exits with 1 on success.
!macro ServiceAction PROGRAM OPTION
  ExecWait '"$INSTDIR\bin\${PROGRAM}" ${OPTION}' $0
  DetailPrint "${PROGRAM} ${OPTION}: exit code $0"
!macroend

!macro EndPrograms
  ; The updater first: its watchdog would start the engine and the tray again.
  IfFileExists "$INSTDIR\bin\quietway_updater.exe" 0 +2
    !insertmacro ServiceAction quietway_updater.exe -u
  IfFileExists "$INSTDIR\bin\quietway_service.exe" 0 +2
    !insertmacro ServiceAction quietway_service.exe -u
  nsExec::Exec 'taskkill.exe /f /im quietway_tray.exe'
  Pop $0
  nsExec::Exec 'taskkill.exe /f /im quietway_firewall.exe'
  Pop $0
!macroend

; Writes a text value only when the store has none, so that a second install keeps it.
!macro SetMissing KEY NAME VALUE
  ClearErrors
  ReadRegStr $0 HKLM "${STORE_KEY}\${KEY}" "${NAME}"
  ${If} ${Errors}
    WriteRegStr HKLM "${STORE_KEY}\${KEY}" "${NAME}" "${VALUE}"
  ${EndIf}
!macroend

Section "Quietway"
  SetShellVarContext all
  ; Ending the engine stores status 1: a tunnel that is up or starting comes back with the
  ; engine this installation starts.
  ReadRegDWORD $0 HKLM "${STORE_KEY}\app" "privacy_status"
  ${If} $0 == 2
  ${OrIf} $0 == 3
    WriteRegDWORD HKLM "${STORE_KEY}\app" "privacy_resume" 1
  ${EndIf}
  !insertmacro EndPrograms

  SetOutPath "$INSTDIR\bin"
  File "${BIN_DIR}\quietway_service.exe"
  File "${BIN_DIR}\quietway_updater.exe"
  File "${BIN_DIR}\quietway_firewall.exe"
  File "${BIN_DIR}\quietway_tray.exe"
  File "${BIN_DIR}\quietway_ctl.exe"
  File "${BIN_DIR}\quietway_reg.exe"
  File "${BIN_DIR}\quietway_crash_upload.exe"
  File "${BIN_DIR}\beep-04.wav"
  ; The outside programs the engine runs.
  File "${BIN_DIR}\openvpn.exe"
  File "${BIN_DIR}\plink.exe"
  File "${BIN_DIR}\curl.exe"
  File "${BIN_DIR}\refresh_ie.exe"
  SetOutPath "$INSTDIR\web"
  File /r "${WEB_DIR}\*.*"
  SetOutPath "$INSTDIR"
  File "/oname=quietway-defaults.reg" "${DEFAULTS}"
  CreateDirectory "$APPDATA\Quietway\conf"
  CreateDirectory "$APPDATA\Quietway\logs"
  ; The account's password and keys: SYSTEM and the administrators only, nothing inherited from
  ; ProgramData, never set through a link. The engine checks it, and closes what it held
  ; before, at every start.
  System::Call 'kernel32::GetFileAttributesW(w "$APPDATA\Quietway\conf") i .r0'
  IntOp $0 $0 & 0x400
  ${If} $0 != 0
    SetErrorLevel 2
    Abort "$APPDATA\Quietway\conf is a link or unreadable: remove it and run setup again."
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r1, p 0) i .r0'
  System::Call 'advapi32::SetFileSecurityW(w "$APPDATA\Quietway\conf", i 0x80000005, p r1) i .r0'
  System::Call 'kernel32::LocalFree(p r1)'
  DetailPrint "conf access list set: $0"

  ; The updater's downloads: SYSTEM and the administrators write, users read (the tray shows
  ; the banners), nothing inherited from ProgramData; a folder someone made there first is
  ; taken over, a link refused. The updater refuses it should others be able to write to it.
  CreateDirectory "$APPDATA\Quietway\downloads"
  System::Call 'kernel32::GetFileAttributesW(w "$APPDATA\Quietway\downloads") i .r0'
  IntOp $0 $0 & 0x400
  ${If} $0 != 0
    SetErrorLevel 2
    Abort "$APPDATA\Quietway\downloads is a link or unreadable: remove it and run setup again."
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", i 1, *p .r1, p 0) i .r0'
  System::Call 'advapi32::SetFileSecurityW(w "$APPDATA\Quietway\downloads", i 0x80000005, p r1) i .r0'
  System::Call 'kernel32::LocalFree(p r1)'
  DetailPrint "downloads access list set: $0"

  ; Per machine and made once: the control API's password, a random GUID's 32 hex digits.
  ClearErrors
  ReadRegStr $0 HKLM "${STORE_KEY}\http" "rpc_password"
  ${If} ${Errors}
    System::Call 'ole32::CoCreateGuid(g .r1)'
    StrCpy $2 ""
    StrCpy $3 0
    ${Do}
      StrCpy $4 $1 1 $3
      ${If} $4 == ""
        ${Break}
      ${EndIf}
      ${If} $4 != "{"
      ${AndIf} $4 != "}"
      ${AndIf} $4 != "-"
        StrCpy $2 "$2$4"
      ${EndIf}
      IntOp $3 $3 + 1
    ${Loop}
    WriteRegStr HKLM "${STORE_KEY}\http" "rpc_password" $2
  ${EndIf}
  !insertmacro SetMissing http rpc_port "127.0.0.1:8988"
  !insertmacro SetMissing http access_log_file "$APPDATA\Quietway\logs\http_access.log"
  !insertmacro SetMissing http error_log_file "$APPDATA\Quietway\logs\http_error.log"
  ; Where this installer put the files, and what it is: written on every install.
  WriteRegStr HKLM "${STORE_KEY}\app" "app_dir" "$INSTDIR"
  WriteRegStr HKLM "${STORE_KEY}\app" "app_data" "$APPDATA\Quietway"
  WriteRegStr HKLM "${STORE_KEY}\http" "document_root" "$INSTDIR\web"
  ; Older setups seeded a loopback test vendor that any local user could answer on.
  ReadRegStr $0 HKLM "${STORE_KEY}\app" "update_server_url"
  ${If} $0 == "http://127.0.0.1:8090/updater/quietway_version.txt"
    DeleteRegValue HKLM "${STORE_KEY}\app" "update_server_url"
  ${EndIf}
  ; The rest of the defaults, values already set kept.
  ExecWait '"$INSTDIR\bin\quietway_reg.exe" import --missing "$INSTDIR\quietway-defaults.reg"' $0
  DetailPrint "defaults imported: exit code $0"
  ${If} $0 != 0
    SetErrorLevel 2
    Abort "The default settings could not be written."
  ${EndIf}
  WriteRegStr HKLM "${STORE_KEY}\app" "app_version" "${VERSION}"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quietway"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quietway"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  !insertmacro ServiceAction quietway_service.exe -i
  ${If} $0 != 1
    SetErrorLevel 3
    Abort "The Quietway2 service could not be installed."
  ${EndIf}
  !insertmacro ServiceAction quietway_updater.exe -i
  ${If} $0 != 1
    SetErrorLevel 3
    Abort "The QuietwayUpdater service could not be installed."
  ${EndIf}
  Call StartServices
  Call CheckTapAdapter
SectionEnd

; The OpenVPN client needs an adapter of the TAP driver, which this setup cannot bring (a
; signed kernel driver): its absence is said in the details, in the setup log and, at the end
; of an interactive install, in a message.
Function CheckTapAdapter
  StrCpy $TapFound 0
  StrCpy $0 0
  ${Do}
    EnumRegKey $1 HKLM "${NET_CLASS_KEY}" $0
    ${If} $1 == ""
      ${Break}
    ${EndIf}
    ReadRegStr $2 HKLM "${NET_CLASS_KEY}\$1" "DriverDesc"
    ${StrStr} $3 $2 "${TAP_DESCRIPTION}"
    ${If} $3 != ""
      StrCpy $TapFound 1
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  ${If} $TapFound == 1
    StrCpy $4 "TAP adapter found: $2"
  ${Else}
    StrCpy $4 "${NO_TAP_TEXT}"
  ${EndIf}
  DetailPrint $4
  FileOpen $5 "$APPDATA\Quietway\logs\setup.log" a
  ${If} $5 != ""
    FileSeek $5 0 END
    FileWrite $5 "$4$\r$\n"
    FileClose $5
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  ${If} $TapFound != 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "${NO_TAP_TEXT}" /SD IDOK
  ${EndIf}
FunctionEnd

; The service manager refuses starts while it is busy (database locked at boot, a start still
; pending): a few tries a second apart.
!macro StartWithRetries PROGRAM
  StrCpy $1 0
  ${Do}
    !insertmacro ServiceAction ${PROGRAM} -s
    IntOp $1 $1 + 1
    ${If} $0 == 1
    ${OrIf} $1 >= 5
      ${Break}
    ${EndIf}
    Sleep 1000
  ${Loop}
!macroend

Function StartServices
  !insertmacro StartWithRetries quietway_service.exe
  !insertmacro StartWithRetries quietway_updater.exe
FunctionEnd

; Reverses the installation: services (with their event sources) removed by the programs' own
; "-u", the running programs ended, then the files, the store, the tray's autostart value and
; the entry in the list of installed programs.
Section "Uninstall"
  SetShellVarContext all
  !insertmacro EndPrograms
  RMDir /r "$INSTDIR\bin"
  RMDir /r "$INSTDIR\web"
  Delete "$INSTDIR\quietway-defaults.reg"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  RMDir /r "$APPDATA\Quietway"
  DeleteRegKey HKLM "${STORE_KEY}"
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "QuietwayTray"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
