@echo off
rem Tessarune's behaviour checks, for a disposable Windows machine only: they write uninstall
rem entries under HKLM and a folder under the system drive, and install and remove a test
rem Quendal in Program Files. Run it as an administrator from the folder it was unpacked
rem into. It ends with "N passed, M failed, K skipped" and exit status 0 when nothing
rem failed; refusing, with one line saying why and exit status 2, leaving nothing behind.
rem   TESSARUNE_SCRATCH  a new folder for this run, in a folder that exists (default
rem                      %SystemDrive%\TessaruneChecks-N); the run makes it, and deletes it
rem                      at its end
rem   TESSARUNE_DRIVE    a drive letter and colon (T:) you have mapped to an empty
rem                      TESSARUNE_SCRATCH yourself; without it the run maps the first of
rem                      T: to J: that subst maps
rem A registry DelayedExpansion would eat the "!" of a path.
setlocal EnableExtensions DisableDelayedExpansion
rem Wine's cmd runs what follows || and && whatever the result, and some of its commands
rem leave the errorlevel as it was when they succeed: each result is read from a
rem errorlevel set to 0 before.
cmd /d /c exit 0
cd /d "%~dp0" 2>nul
if errorlevel 1 goto nofolder
if defined TESSARUNE_DRIVE goto given
if not defined TESSARUNE_SCRATCH set "TESSARUNE_SCRATCH=%SystemDrive%\TessaruneChecks-%RANDOM%%RANDOM%"
if not "%TESSARUNE_SCRATCH:~1,2%"==":\" goto badscratch
if not exist "%TESSARUNE_SCRATCH%\..\" goto noparent
rem The folder is this run's only if this mkdir made it.
cmd /d /c exit 0
mkdir "%TESSARUNE_SCRATCH%" >nul 2>&1
if errorlevel 1 goto taken
rem A letter taken, even by a drive that cannot be read, does not map: the next is tried.
for %%d in (T S R P O N M L K J) do if not defined TESSARUNE_DRIVE call :map %%d
if not defined TESSARUNE_DRIVE goto unmapped
set "mapped=1"
goto share
:given
if not "%TESSARUNE_DRIVE:~1%"==":" goto baddrive
:share
rem The scratch folder again, as a network share (the administrative share of its drive).
if not defined TESSARUNE_SHARE set "TESSARUNE_SHARE=\\localhost\%TESSARUNE_SCRATCH:~0,1%$%TESSARUNE_SCRATCH:~2%"
"%~dp0tessarune_tests.exe"
set "status=%errorlevel%"
if not defined mapped exit /b %status%
subst %TESSARUNE_DRIVE% /d >nul 2>&1
rmdir /s /q "%TESSARUNE_SCRATCH%"
exit /b %status%
:map
cmd /d /c exit 0
subst %1: "%TESSARUNE_SCRATCH%" >nul 2>&1
if not errorlevel 1 set "TESSARUNE_DRIVE=%1:"
exit /b 0
:nofolder
echo The checks refuse to run: they cannot work in their own folder "%~dp0"; unpack them to a local folder.
exit /b 2
:badscratch
echo The checks refuse to run: TESSARUNE_SCRATCH "%TESSARUNE_SCRATCH%" is not a whole path on a local drive.
exit /b 2
:baddrive
echo The checks refuse to run: TESSARUNE_DRIVE "%TESSARUNE_DRIVE%" is not a drive letter and a colon.
exit /b 2
:noparent
echo The checks refuse to run: the folder that is to hold "%TESSARUNE_SCRATCH%" is not there.
exit /b 2
:taken
echo The checks refuse to run: the scratch folder "%TESSARUNE_SCRATCH%" is there already or cannot be made.
exit /b 2
:unmapped
rmdir "%TESSARUNE_SCRATCH%"
echo The checks refuse to run: no drive letter of T: to J: can be mapped to "%TESSARUNE_SCRATCH%".
exit /b 2
