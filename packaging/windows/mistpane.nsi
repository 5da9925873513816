; SPDX-License-Identifier: GPL-2.0-or-later
; The Windows installer: MistPane into OBS Studio's per-machine plug-in
; folder, %ProgramData%\obs-studio\plugins\mistpane (bin\64bit and data, as
; the frontend reads every %module% there). scripts/build-windows.sh builds it:
;   makensis -DVERSION=<project version> -DSTAGE=<that folder, staged>
;            -DOUTFILE=<installer> packaging/windows/mistpane.nsi

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; A file that cannot be written (OBS holding the DLL) stops the install.
AllowSkipFiles off

!ifndef VERSION
!error "Define VERSION, the project's (scripts/build-windows.sh does)"
!endif
!ifndef STAGE
!error "Define STAGE, the staged plug-in folder (scripts/build-windows.sh does)"
!endif
!ifndef OUTFILE
!error "Define OUTFILE, the installer to write (scripts/build-windows.sh does)"
!endif

!define NAME "MistPane"
!define PUBLISHER "MistPane developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\MistPane"
; Where OBS Studio's own installer writes its folder (default value).
!define OBS_KEY "Software\OBS Studio"
!define OBS_PROCESS "obs64.exe"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
; OBS reads no other folder per machine: not the user's to choose.
InstallDir "$COMMONPROGRAMDATA\obs-studio\plugins\mistpane"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} for OBS Studio: installer"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "GNU General Public License, version 2 or later"

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define MUI_WELCOMEPAGE_TEXT "This installs ${NAME} ${VERSION}, the Blur Board source for OBS Studio 32.2 or later (64-bit), for every user of this computer, into$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nAn earlier version there is replaced, and a copy inside OBS Studio's own folder is removed. Close OBS Studio before you go on."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${NAME} ${VERSION} is installed"
!define MUI_FINISHPAGE_TEXT "It is in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nStart OBS Studio and add a source to a scene: Blur Board. To remove it, use Settings > Apps (or Programs and Features): ${NAME}."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The DLL of a running OBS cannot be replaced or removed: ask until OBS is
; closed; a silent run gives up (exit code 2).
!macro WaitForObs
	${Do}
		nsExec::Exec '"$SYSDIR\cmd.exe" /C tasklist /NH /FI "IMAGENAME eq ${OBS_PROCESS}" | "$SYSDIR\find.exe" /I "${OBS_PROCESS}"'
		Pop $0
		${IfThen} $0 != 0 ${|} ${ExitDo} ${|}
		${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "OBS Studio is running. Close it, then choose Retry." /SD IDCANCEL IDCANCEL`
			SetErrorLevel 2
			Quit
		${EndIf}
	${Loop}
!macroend

!macro Only64Bit
	${IfNot} ${RunningX64}
		MessageBox MB_OK|MB_ICONSTOP "${NAME} is for 64-bit Windows, as OBS Studio 32 is." /SD IDOK
		SetErrorLevel 2
		Quit
	${EndIf}
	SetRegView 64
!macroend

Function .onInit
	!insertmacro Only64Bit
	!insertmacro WaitForObs
FunctionEnd

Function un.onInit
	!insertmacro Only64Bit
	; Never wherever a copied uninstaller happens to be.
	StrCpy $INSTDIR "$COMMONPROGRAMDATA\obs-studio\plugins\mistpane"
	!insertmacro WaitForObs
FunctionEnd

; The earlier version's files go whole, so that none the new one lacks
; stays behind for OBS to load.
Function RemoveEarlierVersion
	ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "DisplayVersion"
	${If} $0 != ""
		DetailPrint "Replacing ${NAME} $0"
	${EndIf}
	RMDir /r "$INSTDIR\bin"
	RMDir /r "$INSTDIR\data"
	Delete "$INSTDIR\uninstall.exe"
	${If} ${FileExists} "$INSTDIR\bin\64bit\mistpane.dll"
		Abort "Could not remove $INSTDIR\bin\64bit\mistpane.dll: is OBS Studio still running?"
	${EndIf}
FunctionEnd

; A copy in the legacy layout inside OBS's folder would be a second module
; of the same name.
Function RemoveLegacyCopy
	ReadRegStr $0 HKLM "${OBS_KEY}" ""
	${If} $0 == ""
		DetailPrint "OBS Studio's folder is not in the registry: no copy there to look for"
		Return
	${EndIf}
	${If} ${FileExists} "$0\obs-plugins\64bit\mistpane.dll"
	${OrIf} ${FileExists} "$0\data\obs-plugins\mistpane\*.*"
		DetailPrint "Removing the copy of ${NAME} inside $0"
		Delete "$0\obs-plugins\64bit\mistpane.dll"
		RMDir /r "$0\data\obs-plugins\mistpane"
	${EndIf}
	${If} ${FileExists} "$0\obs-plugins\64bit\mistpane.dll"
		Abort "Could not remove $0\obs-plugins\64bit\mistpane.dll: is OBS Studio still running?"
	${EndIf}
FunctionEnd

Function Register
	WriteUninstaller "$INSTDIR\uninstall.exe"
	${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME} (OBS Studio plug-in)"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
	WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
	WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
	WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
	WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
FunctionEnd

Section "${NAME}"
	SetShellVarContext all
	Call RemoveEarlierVersion
	Call RemoveLegacyCopy
	SetOutPath "$INSTDIR\bin\64bit"
	File "${STAGE}/bin/64bit/mistpane.dll"
	SetOutPath "$INSTDIR\data"
	File /r "${STAGE}/data/*.*"
	SetOutPath "$INSTDIR"
	Call Register
	DetailPrint "${NAME} ${VERSION} is installed in $INSTDIR"
SectionEnd

Section "Uninstall"
	SetShellVarContext all
	RMDir /r "$INSTDIR\bin"
	RMDir /r "$INSTDIR\data"
	Delete "$INSTDIR\uninstall.exe"
	RMDir "$INSTDIR"
	DeleteRegKey HKLM "${UNINSTALL_KEY}"
	DetailPrint "${NAME} is removed from $INSTDIR"
SectionEnd
