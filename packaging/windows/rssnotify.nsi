; The setup program of rssnotify for Windows, built by makensis from the
; Windows build (the target "setup" of build-windows/, see CMakeLists.txt
; beside this file):
;
;   makensis -DBUILD_DIR=<build-windows> -DVERSION=1.0.0 -DOUTFILE=<setup.exe> rssnotify.nsi
;
; It puts the programs into the agent's installation folder, in the layout
; the agent expects:
;
;   rssnotify.exe                  the program the agent starts
;   qLUX\FeedPull.exe              the feed converter
;   qLUX\qVMRSS.exe                the feed viewer
;   qLUX\flarebox-display.exe      the popup component "Flarebox.Display"
;   rssnotify-uninstall.exe        the uninstaller
;
; The folder is the one given with /D=, or else the agent's, as it has
; registered it (InstallationPath of HKLM\SOFTWARE\KESTRA, which the agent
; writes where a 32-bit program reads it). The agent writes that key and
; the template qLUX\Dovel\qVMMenu.xml; neither is written here.
;
; The component registers itself (/RegServer) and is unregistered
; (/UnregServer) before the uninstaller removes exactly the files listed
; above, and the folders that are empty then; the agent's template, the
; data folders and the logs stay. Silent:
; /S, for the setup program and the uninstaller alike.
;
; A 64-bit setup program for 64-bit programs: it reads and writes the
; registry's 64-bit view, apart from the agent's key.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef BUILD_DIR
  !error "BUILD_DIR (the Windows build folder) is not defined"
!endif
!ifndef VERSION
  !define VERSION "0.0.0"
!endif
!ifndef OUTFILE
  !define OUTFILE "rssnotify-setup.exe"
!endif

!define PRODUCT "rssnotify"
!define UNINSTALLER "rssnotify-uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\rssnotify"
!define AGENT_KEY "SOFTWARE\KESTRA"

!include "LogicLib.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" ""

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  ; /D= sets $INSTDIR before this runs.
  ${If} $INSTDIR == ""
    SetRegView 32
    ReadRegStr $INSTDIR HKLM "${AGENT_KEY}" "InstallationPath"
    SetRegView 64
  ${EndIf}
  ${If} $INSTDIR == ""
    MessageBox MB_OK|MB_ICONSTOP "The agent's installation folder is not registered \
      (HKLM\${AGENT_KEY}, InstallationPath). Give it with /D=<folder>." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
FunctionEnd

Section "rssnotify"
  SetRegView 64
  SetOutPath "$INSTDIR"
  File "${BUILD_DIR}/rssnotify.exe"
  SetOutPath "$INSTDIR\qLUX"
  File "${BUILD_DIR}/qLUX/FeedPull.exe"
  File "${BUILD_DIR}/qLUX/qVMRSS.exe"
  File "${BUILD_DIR}/qLUX/flarebox-display.exe"
  ; Started directly, without a shell; it writes its own registration.
  ClearErrors
  ExecWait '"$INSTDIR\qLUX\flarebox-display.exe" /RegServer' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "flarebox-display.exe /RegServer failed ($0)"
    MessageBox MB_OK|MB_ICONSTOP "The popup component could not be registered ($0)." /SD IDOK
    SetErrorLevel 3
  ${EndIf}
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "KESTRA"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\rssnotify.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  ${If} ${FileExists} "$INSTDIR\qLUX\flarebox-display.exe"
    ClearErrors
    ExecWait '"$INSTDIR\qLUX\flarebox-display.exe" /UnregServer' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
      DetailPrint "flarebox-display.exe /UnregServer failed ($0)"
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\qLUX\flarebox-display.exe"
  Delete "$INSTDIR\qLUX\qVMRSS.exe"
  Delete "$INSTDIR\qLUX\FeedPull.exe"
  Delete "$INSTDIR\rssnotify.exe"
  Delete "$INSTDIR\${UNINSTALLER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The folders go only when nothing is left in them: what the agent keeps
  ; there (its template, the data folders, the logs) stays, and so do they.
  RMDir "$INSTDIR\qLUX"
  RMDir "$INSTDIR"
SectionEnd
