; The agent's Windows installer (NSIS 3, MUI2). Built by scripts/package-windows, which passes
;   VERSION  the agent version, "0.4.3"
;   EXE      the VelmoraEgaissAgent.exe to install
;   ICON     the agent's icon (agent.ico, made from the SVG by the windows build)
;   OUTFILE  where the installer goes
; Per user, no administrator rights: the agent keeps agent.ini and agent.log beside its executable
; and the self-update replaces that executable, so the folder must stay writable for the user.
Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | EXE | ICON | OUTFILE
  !error "VERSION, EXE, ICON and OUTFILE must be defined (scripts/package-windows does so)"
!endif

!define PRODUCT "Агент Velmora EGAIS"
!define PUBLISHER "Velmora"
!define EXE_NAME "VelmoraEgaissAgent.exe"
!define BACKUP_NAME "VelmoraEgaissAgent.old.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VelmoraEgaissAgent"
; The value the settings dialog's autostart box writes: name "VelmoraEgaissAgent", data the full path
; of the executable in double quotes.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "VelmoraEgaissAgent"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

; The wizard puts the name into its own sentences, where the product name reads right.
Name "Velmora EGAIS"
Caption "Установка агента Velmora EGAIS ${VERSION}"
UninstallCaption "Удаление агента Velmora EGAIS ${VERSION}"
; The uninstaller's components page would show "0.0 Кбайт" needed.
SpaceTexts none
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Velmora EGAIS Agent"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show
BrandingText "Velmora EGAIS ${VERSION}"

Var AgentWasStopped

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!define MUI_WELCOMEPAGE_TITLE "Установка агента Velmora EGAIS ${VERSION}"
!define MUI_WELCOMEPAGE_TEXT "Программа установит агента Velmora EGAIS ${VERSION} для текущего пользователя Windows; права администратора не нужны.$\r$\n$\r$\nАгент обменивается документами ЕГАИС между УТМ и сервисом Velmora, загружает цены в весы и обновляется сам. Его настройки (agent.ini) и журнал (agent.log) хранятся в папке программы и при обновлении сохраняются.$\r$\n$\r$\nЕсли агент уже работает, установка остановит его.$\r$\n$\r$\nНажмите «Далее», чтобы продолжить."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE_NAME}"
!define MUI_FINISHPAGE_RUN_TEXT "Запустить агента"
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "Программа будет удалена. Настройки (agent.ini) и журнал (agent.log) агента остаются в папке программы для следующей установки, если не отметить их здесь."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "Velmora EGAIS"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "Установка агента Velmora EGAIS"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "${PUBLISHER}"

; Ends the agent that runs from $INSTDIR, so that its executable can be replaced or removed. An
; executable that cannot be opened for writing is running. Agents that know the command "stop"
; (their --help lists it) are asked to end and waited for; an older agent would take "stop" for an
; unknown argument and start, so it is never given one: the user is asked to close it instead.
!macro DEFINE_STOP_AGENT PREFIX
; 1 when the installed agent's --help lists the command "stop".
Function ${PREFIX}AgentKnowsStop
  Push 0
  SetDetailsPrint none
  GetTempFileName $0
  nsExec::Exec '"$SYSDIR\cmd.exe" /c ""$INSTDIR\${EXE_NAME}" --help >"$0""'
  Pop $1
  ClearErrors
  FileOpen $1 "$0" r
  ${IfNot} ${Errors}
    ${Do}
      ClearErrors
      FileRead $1 $2
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      StrCpy $2 $2 7
      ${If} $2 == "  stop "
        Pop $2
        Push 1
        ${Break}
      ${EndIf}
    ${Loop}
    FileClose $1
  ${EndIf}
  Delete "$0"
  SetDetailsPrint both
FunctionEnd

Function ${PREFIX}AgentIsRunning
  ClearErrors
  FileOpen $0 "$INSTDIR\${EXE_NAME}" a
  ${If} ${Errors}
    Push 1
  ${Else}
    FileClose $0
    Push 0
  ${EndIf}
FunctionEnd

Function ${PREFIX}StopAgent
  StrCpy $AgentWasStopped 0
  ${IfNot} ${FileExists} "$INSTDIR\${EXE_NAME}"
    Return
  ${EndIf}
  Call ${PREFIX}AgentIsRunning
  Pop $0
  ${If} $0 == 0
    Return
  ${EndIf}
  DetailPrint "Агент запущен из папки установки."
  Call ${PREFIX}AgentKnowsStop
  Pop $2
  ${If} $2 == 1
    DetailPrint "Останавливаю агента..."
    nsExec::ExecToStack '"$INSTDIR\${EXE_NAME}" stop'
    Pop $0
    Pop $1
    ; "No agent running" when the executable was busy with a command rather than the agent.
    StrCpy $1 $1 13
    ${If} $0 == 0
    ${AndIf} $1 == "Agent stopped"
      DetailPrint "Агент остановлен."
      StrCpy $AgentWasStopped 1
    ${ElseIf} $0 == 0
    ${Else}
      DetailPrint "Агент не остановился (код $0)."
    ${EndIf}
  ${EndIf}
  ; The process may still be releasing its executable for a moment.
  StrCpy $3 0
  ${Do}
    Call ${PREFIX}AgentIsRunning
    Pop $0
    ${If} $0 == 0
      Return
    ${EndIf}
    ${If} $3 >= 20
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Агент Velmora EGAIS ещё работает из папки$\r$\n$INSTDIR$\r$\nи его файл нельзя заменить.$\r$\n$\r$\nЗакройте агента (значок в области уведомлений, пункт «Выход») и повторите попытку." \
        /SD IDCANCEL IDRETRY retry
      DetailPrint "Агент не закрыт, установка прервана."
      SetErrorLevel 2
      Abort "Агент Velmora EGAIS ещё работает. Закройте его и запустите установку снова."
      retry:
      StrCpy $3 0
    ${EndIf}
    Sleep 250
    IntOp $3 $3 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_STOP_AGENT ""
!insertmacro DEFINE_STOP_AGENT "un."

; The agent rewrites (or removes) the Run value at every start from agent.ini's "autostart" line, so
; the choice is written there too; the last "autostart" line of the file counts.
Function WriteAutostartSetting
  Exch $0
  ${If} ${FileExists} "$INSTDIR\agent.ini"
    ClearErrors
    FileOpen $1 "$INSTDIR\agent.ini" a
    ${IfNot} ${Errors}
      FileSeek $1 -1 END
      FileReadByte $1 $2
      FileSeek $1 0 END
      ${If} $2 != 10
        FileWrite $1 "$\r$\n"
      ${EndIf}
      FileWrite $1 "autostart=$0$\r$\n"
      FileClose $1
    ${EndIf}
  ${ElseIf} $0 == 1
    FileOpen $1 "$INSTDIR\agent.ini" w
    FileWrite $1 "autostart=1$\r$\n"
    FileClose $1
  ${EndIf}
  Pop $0
FunctionEnd

Section "Агент Velmora EGAIS" SecAgent
  SectionIn RO
  SetOutPath "$INSTDIR"
  Call StopAgent
  ; Left by the last self-update; its process has ended by now.
  Delete "$INSTDIR\${BACKUP_NAME}"
  ; Own detail lines: the automatic ones carry full paths that the list cuts off.
  SetDetailsPrint textonly
  File "/oname=${EXE_NAME}" "${EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${EXE_NAME}" "" "$INSTDIR\${EXE_NAME}" 0
  SetDetailsPrint both
  DetailPrint "Установлен ${EXE_NAME} версии ${VERSION}"
  DetailPrint "Создана программа удаления ${UNINSTALLER}"
  DetailPrint "Создан ярлык «${PRODUCT}» в меню «Пуск»"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE_NAME},0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Запускать агента вместе с Windows" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE_NAME}"'
  DetailPrint "Агент будет запускаться вместе с Windows"
  Push 1
  Call WriteAutostartSetting
SectionEnd

Section "-Finish"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
    Push 0
    Call WriteAutostartSetting
  ${EndIf}
  ; A silent upgrade brings back the agent it stopped; the finish page offers that otherwise.
  ${If} ${Silent}
  ${AndIf} $AgentWasStopped == 1
    Exec '"$INSTDIR\${EXE_NAME}"'
  ${EndIf}
SectionEnd

; Silent installs take /AUTOSTART=1 or /AUTOSTART=0. Otherwise the box starts ticked for a new
; installation and as the Run value is for an upgrade.
Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART=" $1
  ${IfNot} ${Errors}
    ${If} $1 == 0
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
    Return
  ${EndIf}
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $1 != ""
    ReadRegStr $2 HKCU "${RUN_KEY}" "${RUN_VALUE}"
    ${If} $2 == ""
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "un.Агент Velmora EGAIS" UnSecAgent
  SectionIn RO
  Call un.StopAgent
  SetDetailsPrint textonly
  Delete "$INSTDIR\${EXE_NAME}"
  Delete "$INSTDIR\${BACKUP_NAME}"
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "$INSTDIR\agent.lock"
  ; What the agent downloaded and cached: the preparation manifest and the components' installers.
  Delete "$INSTDIR\egaiss-bootstrap.json"
  RMDir /r "$INSTDIR\install"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  SetDetailsPrint both
  DetailPrint "Удалены файлы программы, ярлык в меню «Пуск» и автозапуск"
SectionEnd

Section /o "un.Настройки и журнал агента" UnSecData
  SetDetailsPrint textonly
  Delete "$INSTDIR\agent.ini"
  Delete "$INSTDIR\agent.log"
  Delete "$INSTDIR\agent_crash.log"
  SetDetailsPrint both
  DetailPrint "Удалены настройки и журнал агента"
SectionEnd

Section "-un.Finish"
  ${IfNot} ${SectionIsSelected} ${UnSecData}
    DetailPrint "Настройки и журнал агента оставлены в папке $INSTDIR"
  ${EndIf}
  SetDetailsPrint textonly
  ; Only an empty folder goes: kept settings stay where the next installation finds them.
  RMDir "$INSTDIR"
SectionEnd

; /REMOVESETTINGS removes agent.ini and agent.log in a silent uninstall too.
Function un.onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecData}
  ${EndIf}
FunctionEnd
