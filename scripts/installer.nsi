; The Quillon2 installer, built by scripts/package.sh with makensis:
;   makensis -DVERSION=1.3.12 -DARCH=win64 -DFILES=files.nsh -DSOURCE=<source tree> -DOUTFILE=setup.exe installer.nsi
; ARCH is win32 or win64: the 64-bit installer is itself a 64-bit program, so it installs into
; the 64-bit Program Files and registers in the 64-bit view of the registry.
; FILES defines the macros QUILLON_INSTALL_FILES and QUILLON_REMOVE_FILES (made by package.sh from
; the release folder), so that the uninstaller removes exactly what was installed.
; Installs for the current user (%LOCALAPPDATA%\Programs\Quillon2, no administrator rights) or
; for all users (Program Files\Quillon2): chosen on a page, or with /CurrentUser or /AllUsers
; (with /S: silent). The user's settings file, %LOCALAPPDATA%\Vendrel\Quilloner\Quilloner.ini,
; belongs to the program, not to the installation: neither installing nor uninstalling touches it.
!if "${ARCH}" == "win64"
  Target amd64-unicode
  !define MULTIUSER_USE_PROGRAMFILES64
!else if "${ARCH}" == "win32"
  Unicode true
!else
  !error "ARCH must be win32 or win64"
!endif
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon2"
!define START_MENU "$SMPROGRAMS\Quillon2"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "Quillon2"
; An earlier installation decides the mode and the folder of the next one and of the uninstaller.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include "${FILES}"

!if "${ARCH}" == "win64"
  Name "Quillon2 ${VERSION} (64-bit)"
!else
  Name "Quillon2 ${VERSION}"
!endif
OutFile "${OUTFILE}"
BrandingText "Quillon2 ${VERSION}"
!define MUI_ICON "${SOURCE}/res/app.ico"
!define MUI_UNICON "${SOURCE}/res/app.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillon2.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Quillon2"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quillon2"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Vendrel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright 2021 Vendrel"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quillon2 setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"

Function .onInit
  ; A folder given with /D= is the one to use; the install mode would replace it by its default.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  StrCmp $0 "" +2
    StrCpy $INSTDIR $0
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Quillon2"
  !insertmacro QUILLON_INSTALL_FILES
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${START_MENU}"
  CreateShortcut "${START_MENU}\Quillon2.lnk" "$INSTDIR\quillon2.exe"
  CreateShortcut "${START_MENU}\Quillon2 User Guide.lnk" "$WINDIR\notepad.exe" '"$INSTDIR\docs\user-guide.md"'

  ; SHCTX is HKLM for all users and HKCU for the current user (set by the install mode).
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quillon2"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Vendrel"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillon2.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: a file the user added keeps its folder.
  !insertmacro QUILLON_REMOVE_FILES
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${START_MENU}\Quillon2.lnk"
  Delete "${START_MENU}\Quillon2 User Guide.lnk"
  RMDir "${START_MENU}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
