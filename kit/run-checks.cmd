@echo off
rem Tessarune's behaviour checks, for a disposable Windows machine only: they write uninstall
rem entries under HKLM and a folder at the root of this folder's drive, and install and
rem remove a test Quendal in Program Files. Run it as an administrator from the folder it
rem was unpacked into. It ends with "N passed, M failed, K skipped" and exit status 0 when
rem nothing failed; refusing, with one line saying why and exit status 2, leaving nothing
rem behind.
rem   TESSARUNE_SCRATCH  a new folder for this run, in a folder that exists (default
rem                      TessaruneChecks-N at the root of this folder's drive); the run
rem                      makes it, and deletes it at its end when nothing of anyone else's
rem                      is in it
rem   TESSARUNE_DRIVE    a drive letter and colon (T:) you have mapped to an empty
rem                      TESSARUNE_SCRATCH yourself; without it the run maps the first of
rem                      T: to J: that subst maps
rem A registry DelayedExpansion would eat the "!" of a path.
setlocal EnableExtensions DisableDelayedExpansion
rem The names this script sets for itself, and those cmd fills in itself only while the
rem environment does not hold them: whatever the environment held under them goes.
set "kit="
set "status="
set "errorlevel="
set "RANDOM="
rem Wine's cmd runs what follows || and && whatever the result, and some of its commands
rem leave the errorlevel as it was when they succeed: each result is read from a
rem errorlevel set to 0 before, by cmd itself, as a program of the name may be anywhere.
(call )
rem Wine's cmd expands the value of %~dp0 again: where the folder's path holds %, it names
rem another folder, which does not hold this script; and it enters a share, which Windows'
rem cmd refuses. The test program then checks its own folder again.
set "kit=%~dp0"
if not "%kit:~1,2%"==":\" goto nofolder
if not exist "%~f0" goto nofolder
if not exist "%kit%tessarune_tests.exe" goto nofolder
cd /d "%kit%" 2>nul
if errorlevel 1 goto nofolder
rem Every setting in its form, or one line saying why not, before anything here uses one.
"%kit%tessarune_tests.exe" --tessarune_settings
if errorlevel 1 exit /b 2
if defined TESSARUNE_DRIVE goto given
if defined TESSARUNE_SCRATCH goto claim
rem At the root of this folder's drive, which the checks above have made sure of: Wine
rem gives its programs a %SystemDrive% of their own, whatever this script holds, and its
rem cmd expands what a value holds again, so that no value of the environment is safe to
rem use here unchecked.
set "TESSARUNE_SCRATCH=%kit:~0,2%\TessaruneChecks-%RANDOM%%RANDOM%"
:claim
rem The folder is this run's only if this mkdir made it; only then does the run delete it.
(call )
mkdir "%TESSARUNE_SCRATCH%" >nul 2>&1
if errorlevel 1 goto taken
rem A letter taken, even by a drive that cannot be read, does not map: the next is tried.
for %%d in (T S R P O N M L K J) do if not defined TESSARUNE_DRIVE call :map %%d
if not defined TESSARUNE_DRIVE goto unmapped
call :share
"%kit%tessarune_tests.exe"
set "status=%errorlevel%"
subst %TESSARUNE_DRIVE% /d >nul 2>&1
rem Only when the test program has left it empty: it deletes only what it made, and says
rem what it left.
rmdir "%TESSARUNE_SCRATCH%" >nul 2>&1
exit /b %status%
:given
call :share
"%kit%tessarune_tests.exe"
set "status=%errorlevel%"
exit /b %status%
rem The scratch folder again, as a network share (the administrative share of its drive).
:share
if not defined TESSARUNE_SHARE set "TESSARUNE_SHARE=\\localhost\%TESSARUNE_SCRATCH:~0,1%$%TESSARUNE_SCRATCH:~2%"
exit /b 0
:map
(call )
subst %1: "%TESSARUNE_SCRATCH%" >nul 2>&1
if not errorlevel 1 set "TESSARUNE_DRIVE=%1:"
exit /b 0
:nofolder
echo The checks refuse to run: they cannot work in their own folder "%~dp0"; unpack them to a folder on a local drive whose path holds no %%.
exit /b 2
:taken
echo The checks refuse to run: the scratch folder "%TESSARUNE_SCRATCH%" is there already or cannot be made.
exit /b 2
:unmapped
rmdir "%TESSARUNE_SCRATCH%" >nul 2>&1
echo The checks refuse to run: no drive letter of T: to J: can be mapped to "%TESSARUNE_SCRATCH%".
exit /b 2
