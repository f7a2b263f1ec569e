@echo off
rem Inventory of many Windows hosts: runs "kelvarin /M host /C /A" for every
rem host named in a list (one a line; "." is this computer; lines starting
rem with # are skipped) and writes one CSV file, with the host name first
rem and Kelvarin's exit code second. A host that fails keeps its row.
rem
rem   inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
rem
rem KELVARIN.EXE defaults to kelvarin.exe beside this script. The exit code
rem is 0 when every host gave its facts, else 1.
setlocal EnableExtensions DisableDelayedExpansion
if "%~2"=="" (
  echo usage: inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
  exit /b 9
)
set "kelvarin=%~3"
if "%kelvarin%"=="" set "kelvarin=%~dp0kelvarin.exe"
set "line_file=%TEMP%\kelvarin-inventory-%RANDOM%.txt"
set "worst=0"
> "%~2" echo "host","exit_code","manufacturer","model","serial_number","bios_version"
for /f "usebackq eol=# tokens=1" %%h in ("%~1") do call :one "%%h" "%~2"
del "%line_file%" 2>nul
exit /b %worst%

:one
set "host=%~1"
if "%host%"=="." (
  "%kelvarin%" /C /A > "%line_file%"
) else (
  "%kelvarin%" /M "%host%" /C /A > "%line_file%"
)
set "code=%errorlevel%"
set "line="
rem Only a CSV line (exit code 0 or 1) is taken; the usage screen is not.
if %code% LEQ 1 for /f "usebackq delims=" %%l in ("%line_file%") do if not defined line set "line=%%l"
if not defined line set "line=,,,"
rem Firmware text may hold quotes, "&" or ">": it is expanded only after cmd
rem has parsed the line, so it is written and never run.
setlocal EnableDelayedExpansion
>> "%~2" echo "!host!",!code!,!line!
endlocal
if not "%code%"=="0" set "worst=1"
exit /b 0
