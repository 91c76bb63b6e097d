; The Windows installer of Dravion Manager. scripts/package-windows builds it with makensis and
; these defines: VERSION (1.9), STAGE (the folder of the packed files), OUTFILE (the setup's path)
; and ICON. scripts/check-nsis-pointers checks it before every build: a variable that holds an
; address is never used in 32-bit arithmetic (IntOp, IntCmp, LogicLib's = < >), only in IntPtrOp
; and the P= P< comparisons, since the installer is a 64-bit program whose memory may lie above
; 4 GB.
Target amd64-unicode
Unicode true
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"
Name "Dravion Manager ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Dravion Manager"
InstallDirRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\DravionManager" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DravionManager"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
; The manager's single-instance mutex: while it exists, the manager runs.
!define MANAGER_MUTEX "TQV8_Dravion_Explorer_Mutex"
; The finish page starts the manager through the desktop's shell, so that it runs as the user
; who is signed in, not with the installer's administrator rights.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Run Dravion Manager"
!define MUI_FINISHPAGE_RUN_FUNCTION RunManagerUnelevated
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

LangString ManagerRuns ${LANG_ENGLISH} "Dravion Manager, dravion-cli or the monitor (dravion-monitor) is running (perhaps for another user). Close it (end the monitor's task in Task Scheduler), then choose Retry."
LangString ManagerRuns ${LANG_RUSSIAN} "Dravion Manager, dravion-cli или монитор (dravion-monitor) запущен (возможно, другим пользователем). Закройте его (монитор: завершите его задание в Планировщике заданий) и нажмите «Повтор»."
LangString PathTooLong ${LANG_ENGLISH} "The system PATH is too long to add the folder of dravion-cli; it was left as it was."
LangString PathTooLong ${LANG_RUSSIAN} "Системная переменная PATH слишком длинна, чтобы добавить папку dravion-cli; она не изменена."
LangString FilesKept ${LANG_ENGLISH} "Some files of Dravion Manager could not be removed (a program still uses them). Close it and uninstall again."
LangString FilesKept ${LANG_RUSSIAN} "Некоторые файлы Dravion Manager не удалось удалить (они ещё используются). Закройте программу и удалите снова."
LangString OldKept ${LANG_ENGLISH} "The earlier copy of Dravion Manager could not be removed from its folder:"
LangString OldKept ${LANG_RUSSIAN} "Прежнюю копию Dravion Manager не удалось удалить из её папки:"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Dravion Manager"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Tarvo"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Dravion Manager setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Tarvo"

; The licence texts in the licenses folder, by name: installed and removed one by one, so that
; removing never takes a file of another program.
!macro ForEachLicence DO
  !insertmacro ${DO} "Qt.txt"
  !insertmacro ${DO} "libcurl.txt"
  !insertmacro ${DO} "MinGW-w64-runtime.txt"
  !insertmacro ${DO} "GCC-runtime-libraries.txt"
  !insertmacro ${DO} "nlohmann-json.txt"
  !insertmacro ${DO} "SQLite.txt"
  !insertmacro ${DO} "libxlsxwriter.txt"
  !insertmacro ${DO} "zlib.txt"
  !insertmacro ${DO} "cpp-httplib.txt"
  !insertmacro ${DO} "mosquitto.txt"
  !insertmacro ${DO} "SimpleIni.txt"
  !insertmacro ${DO} "OpenSSL.txt"
  !insertmacro ${DO} "Apache-2.0.txt"
  !insertmacro ${DO} "LGPL-3.txt"
  !insertmacro ${DO} "GPL-3.txt"
!macroend
!macro InstallLicence NAME
  File "${STAGE}\licenses\${NAME}"
!macroend
!macro RemoveLicence NAME
  Delete "$INSTDIR\licenses\${NAME}"
!macroend

; $R0 = 1 when program $0 (a full path) runs: a program file that runs cannot be opened for
; writing. This finds the manager of another session or user and dravion-cli, which hold no mutex
; the installer can see.
!macro ProgramRuns un
Function ${un}ProgramRuns
  StrCpy $R0 0
  ${IfNot} ${FileExists} "$0"
    Return
  ${EndIf}
  System::Call 'kernel32::CreateFileW(w "$0", i 0x40000000, i 7, p 0, i 3, i 0, p 0) p .r1 ?e'
  Pop $R1
  ${If} $1 P= -1
    ${If} $R1 = 32  ; ERROR_SHARING_VIOLATION
    ${OrIf} $R1 = 5  ; ERROR_ACCESS_DENIED
      StrCpy $R0 1
    ${EndIf}
  ${Else}
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro ProgramRuns ""
!insertmacro ProgramRuns "un."

; Waits while the manager, dravion-cli or dravion-monitor runs from $INSTDIR, or the manager's mutex exists (also
; when it belongs to another account, which OpenMutexW answers with "access denied"): Retry looks
; again, Cancel ends the setup. A silent setup cannot ask and ends at once with status 2.
!macro WaitForManager un
Function ${un}WaitForManager
  ${Do}
    StrCpy $R2 0
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${MANAGER_MUTEX}") p .r1 ?e'
    Pop $R1
    ${If} $1 P<> 0
      System::Call 'kernel32::CloseHandle(p r1)'
      StrCpy $R2 1
    ${ElseIf} $R1 = 5  ; ERROR_ACCESS_DENIED: it exists
      StrCpy $R2 1
    ${EndIf}
    ${If} $R2 = 0
      StrCpy $0 "$INSTDIR\dravion-manager.exe"
      Call ${un}ProgramRuns
      StrCpy $R2 $R0
    ${EndIf}
    ${If} $R2 = 0
      StrCpy $0 "$INSTDIR\dravion-cli.exe"
      Call ${un}ProgramRuns
      StrCpy $R2 $R0
    ${EndIf}
    ${If} $R2 = 0
      StrCpy $0 "$INSTDIR\dravion-monitor.exe"
      Call ${un}ProgramRuns
      StrCpy $R2 $R0
    ${EndIf}
    ${If} $R2 = 0
      Return
    ${EndIf}
    ${If} ${Silent}
      SetErrorLevel 2
      Quit
    ${EndIf}
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ManagerRuns)" IDRETRY +2
      Quit
  ${Loop}
FunctionEnd
!macroend
!insertmacro WaitForManager ""
!insertmacro WaitForManager "un."

; PATH is edited in a buffer of its own (it may be far longer than the installer's strings of
; 1024 characters); $0 is the folder to add or remove. The buffer comes from the top of the
; address space, above 4 GB, where a 64-bit Windows puts a high-entropy program's memory anyway:
; arithmetic that cuts an address to 32 bits fails at once, under Wine too. The value keeps the
; registry type it has (REG_EXPAND_SZ or REG_SZ).
; Out: $1 the buffer (zero-filled, so the value read is always terminated), $3 0 when PATH was
; read, $4 its registry type.
!define PATH_BYTES 65536
!define PATH_READ_BYTES 65534
!macro ReadPath
  ; MEM_COMMIT | MEM_RESERVE | MEM_TOP_DOWN, PAGE_READWRITE
  System::Call 'kernel32::VirtualAlloc(p 0, p ${PATH_BYTES}, i 0x103000, i 4) p .r1'
  StrCpy $3 1
  ${If} $1 P<> 0
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${ENVIRONMENT_KEY}", i 0, i 0x20019, *p .r2) i .r3'
    ${If} $3 = 0
      ; Two bytes short of the buffer: the last character stays the terminating zero.
      System::Call 'advapi32::RegQueryValueExW(p r2, w "Path", p 0, *i .r4, p r1, *i ${PATH_READ_BYTES}) i .r3'
      System::Call 'advapi32::RegCloseKey(p r2)'
      ${If} $3 = 0
      ${AndIf} $4 <> 1  ; REG_SZ
      ${AndIf} $4 <> 2  ; REG_EXPAND_SZ
        StrCpy $3 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
!macroend
!macro FreePath
  ${If} $1 P<> 0
    System::Call 'kernel32::VirtualFree(p r1, p 0, i 0x8000)'  ; MEM_RELEASE
  ${EndIf}
!macroend
!macro WritePath
  System::Call 'kernel32::lstrlenW(p r1) i .r5'
  IntOp $5 $5 + 1
  IntOp $5 $5 * 2
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${ENVIRONMENT_KEY}", i 0, i 0x20006, *p .r2) i .r3'
  ${If} $3 = 0
    System::Call 'advapi32::RegSetValueExW(p r2, w "Path", i 0, i r4, p r1, i r5) i .r3'
    System::Call 'advapi32::RegCloseKey(p r2)'
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}
!macroend

; The entry of PATH (in $1) that is the folder $0, with or without a final backslash, compared
; as a whole entry without regard to case (C:\Tools\Dravion Manager2 is another entry): $6 its
; first character and $9 the ";" after it (0 when it is the last entry), or $6 = 0.
!macro FindInPath
  StrCpy $6 0
  StrCpy $R5 $1
  ${Do}
    System::Call 'shlwapi::StrChrW(p R5, i 59) p .R6'
    ${If} $R6 P= 0
      System::Call 'kernel32::lstrlenW(p R5) i .R7'
    ${Else}
      IntPtrOp $R4 $R6 - $R5
      IntPtrOp $R4 $R4 / 2
      StrCpy $R7 $R4
    ${EndIf}
    ; CompareStringOrdinal: 2 is CSTR_EQUAL.
    System::Call 'kernel32::CompareStringOrdinal(p R5, i R7, w "$0", i -1, i 1) i .R8'
    ${If} $R8 <> 2
      System::Call 'kernel32::CompareStringOrdinal(p R5, i R7, w "$0\", i -1, i 1) i .R8'
    ${EndIf}
    ${If} $R8 = 2
      StrCpy $6 $R5
      StrCpy $9 $R6
      ${Break}
    ${EndIf}
    ${If} $R6 P= 0
      ${Break}
    ${EndIf}
    IntPtrOp $R5 $R6 + 2
  ${Loop}
!macroend

Function AddToPath
  !insertmacro ReadPath
  ${If} $3 = 0
    !insertmacro FindInPath
    ${If} $6 P= 0
      System::Call 'kernel32::lstrlenW(p r1) i .r5'
      StrLen $8 ";$0"
      IntOp $7 $5 + $8
      ; An environment value holds at most 32,767 characters with its terminating zero.
      ${If} $7 < 32767
        ${If} $5 > 0
          ; A PATH that ends in ";" gets no second one.
          IntOp $7 $5 - 1
          IntOp $7 $7 * 2
          IntPtrOp $R4 $1 + $7
          System::Call '*$R4(&i2 .R8)'
          ${If} $R8 <> 59
            System::Call 'kernel32::lstrcatW(p r1, w ";")'
          ${EndIf}
        ${EndIf}
        System::Call 'kernel32::lstrcatW(p r1, w "$0")'
        !insertmacro WritePath
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
      ${Else}
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(PathTooLong)" /SD IDOK
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro FreePath
FunctionEnd

Function un.RemoveFromPath
  !insertmacro ReadPath
  ${If} $3 = 0
    StrCpy $R9 0
    ${Do}
      !insertmacro FindInPath
      ${If} $6 P= 0
        ${Break}
      ${EndIf}
      ${If} $9 P<> 0
        ; Moves what follows "folder;" (with the terminating zero) over it.
        IntPtrOp $R4 $9 + 2
        System::Call 'kernel32::lstrlenW(p R4) i .r5'
        IntOp $5 $5 + 1
        IntOp $5 $5 * 2
        System::Call 'kernel32::RtlMoveMemory(p r6, p R4, p r5)'
      ${ElseIf} $6 P> $1
        ; The last entry: PATH ends before the ";" that precedes it.
        IntPtrOp $R4 $6 - 2
        System::Call '*$R4(&i2 0)'
      ${Else}
        System::Call '*$6(&i2 0)'
      ${EndIf}
      StrCpy $R9 1
    ${Loop}
    ${If} $R9 = 1
      !insertmacro WritePath
    ${EndIf}
  ${EndIf}
  !insertmacro FreePath
FunctionEnd

Function un.onInit
  Call un.WaitForManager
FunctionEnd

Function RunManagerUnelevated
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\dravion-manager.exe"'
FunctionEnd

; An earlier installation in another folder is removed by its own uninstaller (which also takes
; its folder off PATH), so that an upgrade leaves one copy and one entry under the installed apps.
Function RemoveEarlierCopy
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == ""
  ${OrIf} $R0 == $INSTDIR
  ${OrIfNot} ${FileExists} "$R0\uninstall.exe"
    Return
  ${EndIf}
  ClearErrors
  ; _? runs it in place (not from a copy), so that ExecWait waits for it.
  ExecWait '"$R0\uninstall.exe" /S _?=$R0' $R1
  ${If} ${Errors}
  ${OrIf} $R1 <> 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(OldKept)$\r$\n$R0" /SD IDOK
    Return
  ${EndIf}
  Delete "$R0\uninstall.exe"
  RMDir "$R0"
FunctionEnd

Section "Dravion Manager" SectionMain
  SectionIn RO
  SetShellVarContext all
  ; The folder chosen on the directory page may hold a copy that runs.
  Call WaitForManager
  Call RemoveEarlierCopy
  SetOutPath "$INSTDIR"
  File "${STAGE}\dravion-manager.exe"
  File "${STAGE}\dravion-cli.exe"
  File "${STAGE}\dravion-monitor.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSES.txt"
  SetOutPath "$INSTDIR\licenses"
  !insertmacro ForEachLicence InstallLicence
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\Dravion Manager"
  CreateShortcut "$SMPROGRAMS\Dravion Manager\Dravion Manager.lnk" "$INSTDIR\dravion-manager.exe"
  CreateShortcut "$SMPROGRAMS\Dravion Manager\Uninstall Dravion Manager.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Dravion Manager"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tarvo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dravion-manager.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Add dravion-cli to the PATH" SectionPath
  StrCpy $0 "$INSTDIR"
  Call AddToPath
SectionEnd

; .onInit comes after the sections: it refers to the PATH section by its index.
Function .onInit
  ; /ADDTOPATH on the command line ticks the PATH option (for a silent setup).
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ADDTOPATH" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SectionPath} ${SF_SELECTED}
  ${EndIf}
  Call WaitForManager
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The programs and texts first: when one cannot go (it runs), everything else stays, the entry
  ; under the installed apps and the uninstaller too, so that the user can try again.
  ; The logon task of the user who uninstalls would start a program that is gone. Its outcome
  ; does not matter here (no task, or an older dravion-cli without the option).
  ${If} ${FileExists} "$INSTDIR\dravion-monitor.exe"
    nsExec::Exec '"$INSTDIR\dravion-cli.exe" monitor --remove-task'
    Pop $R0
  ${EndIf}
  ClearErrors
  Delete "$INSTDIR\dravion-manager.exe"
  Delete "$INSTDIR\dravion-cli.exe"
  Delete "$INSTDIR\dravion-monitor.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSES.txt"
  !insertmacro ForEachLicence RemoveLicence
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "$(FilesKept)" /SD IDOK
    SetErrorLevel 2
    Return
  ${EndIf}
  RMDir "$INSTDIR\licenses"
  ReadRegDWORD $R0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $R0 = 1
    StrCpy $0 "$INSTDIR"
    Call un.RemoveFromPath
  ${EndIf}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Dravion Manager\Dravion Manager.lnk"
  Delete "$SMPROGRAMS\Dravion Manager\Uninstall Dravion Manager.lnk"
  RMDir "$SMPROGRAMS\Dravion Manager"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
