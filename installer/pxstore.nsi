; PlenthraSetup.exe: installs the store program PXStore.exe with its settings file, and the
; 3ds Max plug-in PXPluginMax.dlu into a 3ds Max plugins folder of the user's choice.
;
;   makensis [-DARCH=x86|x64] -DSTORE_EXE=PATH -DPLUGIN_DLU=PATH [-DSETTINGS_XML=PATH]
;            [-DOUTFILE=PATH] [-DVERSION=TEXT] pxstore.nsi
;
; MOVIE_DIR, when given, is a folder holding the store's movies Aerin.swf and
; CameraShelf.swf, which are then installed beside PXStore.exe; they come from the web
; side and are not part of this build.
;
; ARCH x86 (the default) is the shipping build: a 32-bit installer for the i686 programs,
; whose $PROGRAMFILES is "Program Files (x86)" on 64-bit Windows, where a 32-bit 3ds Max's
; plug-in looks for the store. ARCH x64 installs x86_64 programs into the 64-bit
; "Program Files".
;
; Command line of the installer:
;   /S                 silent: no pages, the defaults or the options below
;   /PLUGINDIR=FOLDER  the 3ds Max plugins folder (quotes allowed around FOLDER)
;   /D=FOLDER          the store's folder; must come last, without quotes
; The uninstaller (Uninstall.exe in the store's folder) takes /S as well.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "WordFunc.nsh"

!ifndef ARCH
  !define ARCH x86
!endif
!ifndef STORE_EXE
  !error "define STORE_EXE, the path of PXStore.exe"
!endif
!ifndef PLUGIN_DLU
  !error "define PLUGIN_DLU, the path of PXPluginMax.dlu"
!endif
!ifndef SETTINGS_XML
  ; makensis works in the script's folder.
  !define SETTINGS_XML "pxplugin.xml"
!endif
!ifndef OUTFILE
  !define OUTFILE "PlenthraSetup.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0"
!endif

!define PRODUCT "Vellamar Plenthra"
!define PUBLISHER "Vellamar"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VellamarPlenthra"
!define STORE_PROGRAM "PXStore.exe"
!define PLUGIN_FILE "PXPluginMax.dlu"
!define STORE_MOVIE "Aerin.swf"
!define SHELF_MOVIE "CameraShelf.swf"
!define SETTINGS_FOLDER "plugcfg"
!define SETTINGS_FILE "pxplugin.xml"
!define UNINSTALLER "Uninstall.exe"
; 3ds Max 2008 is 3ds Max 10; its installation folder as its own set-up records it.
!define MAX2008_KEY "SOFTWARE\Autodesk\3dsMax\10.0\MAX-1:409"

!if "${ARCH}" == "x64"
  Target amd64-unicode
  !define PROGRAMS_FOLDER "$PROGRAMFILES64"
!else if "${ARCH}" == "x86"
  Target x86-unicode
  !define PROGRAMS_FOLDER "$PROGRAMFILES"
!else
  !error "ARCH must be x86 or x64"
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAMS_FOLDER}\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

; The plug-in folder chosen on the second directory page or with /PLUGINDIR=.
Var PluginDir
; The outermost folder that the installer itself created for the store or the plug-in
; (empty when the folder existed): the uninstaller removes the created folders up to it.
Var CreatedStoreTop
Var CreatedPluginTop

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME

!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install the store program PXStore.exe in the following folder. The 3ds Max plug-in starts the store from this folder: keep the suggested one unless you know otherwise."
!insertmacro MUI_PAGE_DIRECTORY

!define MUI_PAGE_HEADER_TEXT "3ds Max plug-in"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the plugins folder of your 3ds Max."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup will install the plug-in ${PLUGIN_FILE} in the plugins folder of 3ds Max below. Choose the plugins folder of the 3ds Max you use (3ds Max 2008: ...\Autodesk\3ds Max 2008\plugins)."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "3ds Max plugins folder"
!define MUI_DIRECTORYPAGE_VARIABLE $PluginDir
!insertmacro MUI_PAGE_DIRECTORY

!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} is installed. Start 3ds Max and use the Plenthra menu. The store needs the Shockwave Flash ActiveX control on this computer."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Strips one pair of double quotes around $0.
Function StripQuotes
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 $0 1 -1
    ${If} $1 == '"'
      StrCpy $0 $0 -1
    ${EndIf}
  ${EndIf}
FunctionEnd

; $0: a folder about to be created. Returns in $0 the outermost of its folders that does
; not exist yet, or "" when the folder exists already.
Function OutermostMissingFolder
  StrCpy $1 ""
  ${DoWhile} $0 != ""
    ${If} ${FileExists} "$0\*.*"
      ${Break}
    ${EndIf}
    StrCpy $1 $0
    ${GetParent} $0 $0
  ${Loop}
  StrCpy $0 $1
FunctionEnd

; Removes the folder $0 if it is empty, then its parents up to and including $1 while each
; becomes empty. $1 is the outermost folder the installer created; empty: the folder
; existed before, and nothing is removed.
!macro RemoveCreatedFolders UN
Function ${UN}RemoveCreatedFolders
  ${If} $1 == ""
    Return
  ${EndIf}
  ${Do}
    ClearErrors
    RMDir $0
    ${If} ${Errors}
    ${OrIf} $0 == $1
      ${Break}
    ${EndIf}
    StrCpy $2 $0
    ${GetParent} $0 $0
    ${If} $0 == $2
    ${OrIf} $0 == ""
      ${Break}
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro RemoveCreatedFolders ""
!insertmacro RemoveCreatedFolders "un."

Function .onInit
!if "${ARCH}" == "x64"
  SetRegView 64
!endif
  ; 3ds Max 2008's own plugins folder when its set-up recorded one, else the usual place.
  ReadRegStr $0 HKLM "${MAX2008_KEY}" "Installdir"
  ${If} $0 != ""
    StrCpy $1 $0 1 -1
    ${If} $1 == "\"
      StrCpy $0 $0 -1
    ${EndIf}
    StrCpy $PluginDir "$0\plugins"
  ${Else}
    StrCpy $PluginDir "${PROGRAMS_FOLDER}\Autodesk\3ds Max 2008\plugins"
  ${EndIf}

  ${GetParameters} $R0
  ; Options quoted whole ("/PLUGINDIR=C:\a b", as a shell or Wine passes an argument with
  ; blanks) become /PLUGINDIR="C:\a b" and /"OTHER=...", which GetOptions takes apart.
  StrCpy $R0 " $R0"
  ${WordReplace} $R0 ' "/' ' /"' "+" $R0
  ${WordReplace} $R0 '/"PLUGINDIR=' '/PLUGINDIR="' "+" $R0
  ClearErrors
  ${GetOptions} $R0 "/PLUGINDIR=" $0
  ${IfNot} ${Errors}
    Call StripQuotes
    StrCpy $1 $0 1 -1
    ${If} $1 == "\"
      StrCpy $0 $0 -1
    ${EndIf}
    ${If} $0 == ""
      MessageBox MB_ICONSTOP "/PLUGINDIR= needs a folder." /SD IDOK
      Abort
    ${EndIf}
    StrCpy $PluginDir $0
  ${EndIf}
FunctionEnd

Function un.onInit
!if "${ARCH}" == "x64"
  SetRegView 64
!endif
FunctionEnd

Section "Vellamar Plenthra" SecMain
  SectionIn RO

  ; What the installer creates is known before anything is created.
  StrCpy $0 $INSTDIR
  Call OutermostMissingFolder
  StrCpy $CreatedStoreTop $0
  StrCpy $0 $PluginDir
  Call OutermostMissingFolder
  StrCpy $CreatedPluginTop $0

  ; Installed again over an earlier installation: the folders that one created stay
  ; recorded, and a plug-in left in another plugins folder goes.
  ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $2 == $INSTDIR
  ${AndIf} $CreatedStoreTop == ""
    ReadRegStr $CreatedStoreTop HKLM "${UNINSTALL_KEY}" "CreatedStoreFolder"
  ${EndIf}
  ReadRegStr $3 HKLM "${UNINSTALL_KEY}" "PluginFolder"
  ${If} $3 == $PluginDir
    ${If} $CreatedPluginTop == ""
      ReadRegStr $CreatedPluginTop HKLM "${UNINSTALL_KEY}" "CreatedPluginFolder"
    ${EndIf}
  ${ElseIf} $3 != ""
    Delete "$3\${PLUGIN_FILE}"
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "CreatedPluginFolder"
    StrCpy $0 $3
    Call RemoveCreatedFolders
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "/oname=${STORE_PROGRAM}" "${STORE_EXE}"
!ifdef MOVIE_DIR
  File "/oname=${STORE_MOVIE}" "${MOVIE_DIR}\${STORE_MOVIE}"
  File "/oname=${SHELF_MOVIE}" "${MOVIE_DIR}\${SHELF_MOVIE}"
!endif
  ; Settings a user has edited survive a new installation.
  SetOutPath "$INSTDIR\${SETTINGS_FOLDER}"
  SetOverwrite off
  File "/oname=${SETTINGS_FILE}" "${SETTINGS_XML}"
  SetOverwrite on

  SetOutPath "$PluginDir"
  File "/oname=${PLUGIN_FILE}" "${PLUGIN_DLU}"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${STORE_PROGRAM}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; What the uninstaller needs to remove exactly what was installed.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "PluginFolder" "$PluginDir"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "CreatedStoreFolder" "$CreatedStoreTop"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "CreatedPluginFolder" "$CreatedPluginTop"
SectionEnd

Section "Uninstall"
  ReadRegStr $PluginDir HKLM "${UNINSTALL_KEY}" "PluginFolder"
  ReadRegStr $CreatedStoreTop HKLM "${UNINSTALL_KEY}" "CreatedStoreFolder"
  ReadRegStr $CreatedPluginTop HKLM "${UNINSTALL_KEY}" "CreatedPluginFolder"

  ${If} $PluginDir != ""
    Delete "$PluginDir\${PLUGIN_FILE}"
    StrCpy $0 $PluginDir
    StrCpy $1 $CreatedPluginTop
    Call un.RemoveCreatedFolders
  ${EndIf}

  Delete "$INSTDIR\${SETTINGS_FOLDER}\${SETTINGS_FILE}"
  RMDir "$INSTDIR\${SETTINGS_FOLDER}"
  Delete "$INSTDIR\${STORE_PROGRAM}"
!ifdef MOVIE_DIR
  Delete "$INSTDIR\${STORE_MOVIE}"
  Delete "$INSTDIR\${SHELF_MOVIE}"
!endif
  Delete "$INSTDIR\${UNINSTALLER}"
  StrCpy $0 $INSTDIR
  StrCpy $1 $CreatedStoreTop
  Call un.RemoveCreatedFolders

  ; Last, so that its absence means the uninstaller has finished.
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
