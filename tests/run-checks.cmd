@echo off
rem Tessarune's behaviour checks, for a disposable Windows machine only: they write uninstall
rem entries under HKLM and a folder under the system drive, and install and remove a test
rem Quendal in Program Files. Run it as an administrator from the folder it was unpacked
rem into. It ends with "N passed, M failed, K skipped" and exit status 0 when nothing
rem failed; refusing, with one line saying why and exit status 2, leaving nothing behind.
rem   TESSARUNE_SCRATCH  a new folder for this run (default %SystemDrive%\TessaruneChecks-N);
rem                      it must not exist: the run makes it, and deletes it at its end
rem   TESSARUNE_DRIVE    a drive letter you have mapped to an empty TESSARUNE_SCRATCH
rem                      yourself; without it the run maps the first free of T: to J:
setlocal
cd /d "%~dp0"
if defined TESSARUNE_DRIVE goto share
if not defined TESSARUNE_SCRATCH set "TESSARUNE_SCRATCH=%SystemDrive%\TessaruneChecks-%RANDOM%%RANDOM%"
if exist "%TESSARUNE_SCRATCH%" goto taken
mkdir "%TESSARUNE_SCRATCH%" >nul 2>&1
if not exist "%TESSARUNE_SCRATCH%\" goto taken
for %%d in (T S R P O N M L K J) do if not defined TESSARUNE_DRIVE if not exist %%d:\ set "TESSARUNE_DRIVE=%%d:"
if defined TESSARUNE_DRIVE goto map
rmdir "%TESSARUNE_SCRATCH%"
echo The checks refuse to run: no drive letter of T: to J: is free.
exit /b 2
:map
subst %TESSARUNE_DRIVE% "%TESSARUNE_SCRATCH%" >nul 2>&1
if errorlevel 1 goto unmapped
set "mapped=1"
:share
rem The scratch folder again, as a network share (the administrative share of its drive).
if not defined TESSARUNE_SHARE set "TESSARUNE_SHARE=\\localhost\%TESSARUNE_SCRATCH:~0,1%$%TESSARUNE_SCRATCH:~2%"
tessarune_tests.exe
set "status=%errorlevel%"
if not defined mapped exit /b %status%
subst %TESSARUNE_DRIVE% /d >nul 2>&1
rmdir /s /q "%TESSARUNE_SCRATCH%"
exit /b %status%
:taken
echo The checks refuse to run: the scratch folder %TESSARUNE_SCRATCH% is there already or cannot be made.
exit /b 2
:unmapped
rmdir "%TESSARUNE_SCRATCH%"
echo The checks refuse to run: drive %TESSARUNE_DRIVE% cannot be mapped to %TESSARUNE_SCRATCH%.
exit /b 2
