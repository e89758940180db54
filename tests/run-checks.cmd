@echo off
rem Tessarune's behaviour checks, for a disposable Windows machine only: they write uninstall
rem entries under HKLM and folders under the system drive and in Program Files. Run it as an
rem administrator from the folder it was unpacked into. It ends with "N passed, M failed"
rem and exit status 0 when nothing failed.
rem   TESSARUNE_SCRATCH  the checks' scratch folder (default %SystemDrive%\TessaruneChecks)
rem   TESSARUNE_DRIVE    a drive letter mapped to it (default: the first free of T: to J:)
setlocal
cd /d "%~dp0"
if not defined TESSARUNE_SCRATCH set "TESSARUNE_SCRATCH=%SystemDrive%\TessaruneChecks"
if not exist "%TESSARUNE_SCRATCH%\" mkdir "%TESSARUNE_SCRATCH%"
if not exist "%TESSARUNE_SCRATCH%\" exit /b 2
if defined TESSARUNE_DRIVE goto share
for %%d in (T S R P O N M L K J) do if not exist %%d:\ (
    set "TESSARUNE_DRIVE=%%d:"
    goto map
)
echo no free drive letter for the checks
exit /b 2
:map
subst %TESSARUNE_DRIVE% "%TESSARUNE_SCRATCH%" || exit /b 2
set "mapped=1"
:share
rem The scratch folder again, as a network share (the administrative share of its drive).
if not defined TESSARUNE_SHARE set "TESSARUNE_SHARE=\\localhost\%TESSARUNE_SCRATCH:~0,1%$%TESSARUNE_SCRATCH:~2%"
tessarune_tests.exe
set "status=%errorlevel%"
if defined mapped subst %TESSARUNE_DRIVE% /d
exit /b %status%
