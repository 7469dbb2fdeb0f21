; The Windows installer of quenlo-cli (make windows-package), built with Debian's makensis.
; STAGE (the unpacked zip's folder), VERSION and OUTFILE come from the command line.
; A 64-bit installer: it runs where only 64-bit Windows programs can (Wine without its
; 32-bit part), and $PROGRAMFILES64 is then the real Program Files.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

Name "Quenlo command-line loader ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quenlo"
InstallDirRegKey HKLM "Software\Quenlo" "InstallDir"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quenlo"

Section "quenlo-cli"
    SetOutPath "$INSTDIR"
    File "${STAGE}\quenlo-cli.exe"
    File "${STAGE}\README.md"
    File "${STAGE}\WINDOWS.md"
    File "${STAGE}\RESULT-CODES.txt"
    File "${STAGE}\DEMO.PD3"
    SetOutPath "$INSTDIR\licences"
    File "${STAGE}\licences\*.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "Software\Quenlo" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quenlo command-line loader"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\quenlo-cli.exe"
    Delete "$INSTDIR\README.md"
    Delete "$INSTDIR\WINDOWS.md"
    Delete "$INSTDIR\RESULT-CODES.txt"
    Delete "$INSTDIR\DEMO.PD3"
    RMDir /r "$INSTDIR\licences"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "Software\Quenlo"
SectionEnd
