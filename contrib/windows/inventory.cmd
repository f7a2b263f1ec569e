@echo off
rem Inventory of many Windows hosts: runs "kelvarin /M host /C /A /T _" for
rem every host named in a list (the first word of each line; "." is this
rem computer; lines starting with # are skipped) and writes one CSV file
rem (RFC 4180), with the host name first and Kelvarin's exit code second.
rem Every host keeps its row of six fields:
rem   0       the report was made; a fact that was not found is #NOTFOUND#
rem   1       the connection failed: all four facts are #WMIERROR#
rem   9       Kelvarin refused its command line: no facts
rem   failed  Kelvarin could not be run, or ended otherwise: no facts
rem The facts are Kelvarin's own line, in the ANSI code page, copied into the
rem CSV and never read by cmd: every value quoted, and inside a value each of
rem the characters ^ ` ' " ( ) replaced by _ (so no quote ends a field early).
rem A host name holds no blank, double quote or percent sign.
rem
rem   inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
rem
rem KELVARIN.EXE defaults to kelvarin.exe beside this script. The exit code
rem is 0 when every host gave its facts, 1 when any did not (or no temporary
rem folder could be made), 9 for a wrong command line.
setlocal EnableExtensions DisableDelayedExpansion
if "%~2"=="" (
  echo usage: inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
  exit /b 9
)
set "kelvarin=%~3"
if "%kelvarin%"=="" set "kelvarin=%~dp0kelvarin.exe"
set "csv=%~f2"
rem A folder of this run's own: md fails when the name is taken, by a run
rem started at the same moment (%RANDOM% repeats then) or by a leftover.
set "tries=0"
:folder
set /a tries+=1
set "work=%TEMP%\kelvarin-inventory-%RANDOM%"
rem "(call )" clears the error level, which a successful md may leave set.
(call )
md "%work%" 2>nul
if errorlevel 1 (
  if %tries% LSS 200 goto folder
  echo inventory.cmd: no temporary folder could be made in %TEMP% 1>&2
  exit /b 1
)
set "worst=0"
> "%csv%" echo "host","exit_code","manufacturer","model","serial_number","bios_version"
rem The host name is written from the loop variable, never from an
rem environment variable: cmd would expand it again.
for /f "usebackq eol=# tokens=1" %%h in ("%~1") do (
  if "%%h"=="." (
    "%kelvarin%" /C /A /T _ > "%work%\line.txt"
  ) else (
    "%kelvarin%" /M "%%h" /C /A /T _ > "%work%\line.txt"
  )
  call :code
  < nul set /p ="%%h",>> "%csv%"
  call :facts
)
rd /s /q "%work%"
exit /b %worst%

:code
set "code=%errorlevel%"
if not "%code%"=="0" if not "%code%"=="1" if not "%code%"=="9" set "code=failed"
if not "%code%"=="0" set "worst=1"
exit /b 0

rem Kelvarin's line is appended as it is (type copies it); only a CSV line,
rem exit code 0 or 1, is taken.
:facts
set "size=0"
for %%f in ("%work%\line.txt") do set "size=%%~zf"
set "take="
if "%code%"=="0" set "take=1"
if "%code%"=="1" set "take=1"
if "%size%"=="0" set "take="
if defined take (
  < nul set /p =%code%,>> "%csv%"
  type "%work%\line.txt" >> "%csv%"
) else (
  >> "%csv%" echo %code%,,,,
)
exit /b 0
