@echo off
rem Inventory of many Windows hosts: runs "kelvarin /M host /C /A /T _" for
rem every host named in a list (the first word of each line; "." is this
rem computer; lines starting with # are skipped) and writes one CSV file
rem (RFC 4180), with the host name first and Kelvarin's exit code second.
rem Every host keeps its row of six fields:
rem   0       the report was made; a fact that was not found is #NOTFOUND#
rem   1       the connection failed: all four facts are #WMIERROR#
rem   9       Kelvarin refused its command line: no facts
rem   failed  Kelvarin could not be run or ended otherwise, or its line did not
rem           arrive whole (cut short, not four fields, over 8,000 bytes): no facts
rem The facts are Kelvarin's own line, in the ANSI code page, copied into the
rem CSV and never expanded by cmd: every value quoted, and inside a value each
rem of the characters ^ ` ' " ( ) replaced by _ (so no quote ends a field
rem early). A name or fact that starts with = + - or @ is written after an
rem apostrophe inside its quotes, so that no spreadsheet runs it as a formula:
rem such a host is asked once more, with "/D <TAB>", for a line that cmd
rem splits and writes again from its loop variables (which it never expands).
rem A host name holds no blank, double quote or percent sign.
rem
rem   inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
rem
rem KELVARIN.EXE defaults to kelvarin.exe beside this script. The exit code
rem is 0 when every host gave its facts; 1 when any did not, when no temporary
rem folder could be made, or when the CSV could not be written in full (it is
rem then removed, and a message says so); 9 for a wrong command line.
setlocal EnableExtensions DisableDelayedExpansion
if "%~2"=="" (
  echo usage: inventory.cmd HOSTS.TXT OUTPUT.CSV [KELVARIN.EXE]
  exit /b 9
)
set "kelvarin=%~3"
if "%kelvarin%"=="" set "kelvarin=%~dp0kelvarin.exe"
set "csv=%~f2"
set "tab=	"
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
rem cmd tells a script of no failed write (a read-only file, a full disk), so
rem each row is checked by the bytes it added to the CSV; after the first
rem failure no more hosts are asked.
set "lost="
set "before=0"
> "%csv%" echo "host","exit_code","manufacturer","model","serial_number","bios_version"
set "expect=74"
call :grown
rem The host name is written from the loop variable, never from an
rem environment variable: cmd would expand it again. name.txt gives its length.
for /f "usebackq eol=# tokens=1" %%h in ("%~1") do (
  del /q "%work%\line.txt" "%work%\tabs.txt" "%work%\name.txt" 2>nul
  set "again="
  > "%work%\name.txt" echo "%%h"
  if not defined lost if "%%h"=="." "%kelvarin%" /C /A /T _ > "%work%\line.txt"
  if not defined lost if not "%%h"=="." "%kelvarin%" /M "%%h" /C /A /T _ > "%work%\line.txt"
  call :code
  if not defined lost call :check
  if defined again if "%%h"=="." "%kelvarin%" /C /T _ /D "%tab%" > "%work%\tabs.txt"
  if defined again if not "%%h"=="." "%kelvarin%" /M "%%h" /C /T _ /D "%tab%" > "%work%\tabs.txt"
  if defined again call :code
  if defined again call :split
  set "t=%%h"
  call :host
  if not defined lost if defined q0 < nul set /p ="'%%h",>> "%csv%"
  if not defined lost if not defined q0 < nul set /p ="%%h",>> "%csv%"
  if not defined lost call :row
)
rd /s /q "%work%"
if defined lost (
  del "%csv%" 2>nul
  echo inventory.cmd: "%csv%" could not be written in full, so it is removed 1>&2
  exit /b 1
)
exit /b %worst%

:code
set "code=%errorlevel%"
if not "%code%"=="0" if not "%code%"=="1" if not "%code%"=="9" set "code=failed"
exit /b 0

rem Kelvarin's line is copied when it arrived whole: exit code 0 and one line
rem of four quoted fields, or exit code 1 and exactly the line of a failed
rem connection (a cut run exits 1 too). cmd reads it only to judge that: split
rem at commas, a field starts each piece that starts with a quote. A field
rem that starts as a formula, or too many commas to see every field, sends
rem the host to :split.
:check
set "mode=" & set "size="
for %%f in ("%work%\line.txt") do set "size=%%~zf"
if "%size%"=="" set "size=0"
set "lines=0" & set "starts=0" & set "markers=0" & set "formula=" & set "more="
if %size% GTR 0 if %size% LEQ 8000 (
  for /f "usebackq tokens=1-25* delims=," %%a in ("%work%\line.txt") do (
    set /a lines+=1
    set "t=%%a" & call :field
    set "t=%%b" & call :field
    set "t=%%c" & call :field
    set "t=%%d" & call :field
    set "t=%%e" & call :field
    set "t=%%f" & call :field
    set "t=%%g" & call :field
    set "t=%%h" & call :field
    set "t=%%i" & call :field
    set "t=%%j" & call :field
    set "t=%%k" & call :field
    set "t=%%l" & call :field
    set "t=%%m" & call :field
    set "t=%%n" & call :field
    set "t=%%o" & call :field
    set "t=%%p" & call :field
    set "t=%%q" & call :field
    set "t=%%r" & call :field
    set "t=%%s" & call :field
    set "t=%%t" & call :field
    set "t=%%u" & call :field
    set "t=%%v" & call :field
    set "t=%%w" & call :field
    set "t=%%x" & call :field
    set "t=%%y" & call :field
    set "t=%%z" & call :rest
  )
)
if "%lines%"=="1" if "%starts%"=="4" (
  if "%code%"=="0" set "mode=type"
  if "%code%"=="1" if "%markers%"=="4" if "%size%"=="53" set "mode=type"
)
if "%mode%"=="type" if defined formula set "again=1"
if "%code%"=="0" if "%lines%"=="1" if defined more set "again=1"
if defined again set "mode="
if not defined mode if not defined again if not "%code%"=="9" set "code=failed"
exit /b 0

:field
if not defined t exit /b 0
set "u=%t:~0,2%"
set "u=%u:"=Q%"
if "%u:~0,1%"=="Q" set /a starts+=1
for %%c in ("Q=" "Q+" "Q-" "Q@") do if "%u%"==%%c set "formula=1"
if "%size%"=="53" call :marker
set "t="
exit /b 0

:marker
set "u=%t:"=%"
if "%u%"=="#WMIERROR#" set /a markers+=1
exit /b 0

:rest
if defined t set "more=1"
set "t="
exit /b 0

rem The same run's facts split at TABs, one line of four or a failed row.
:split
set "mode=" & set "size="
for %%f in ("%work%\tabs.txt") do set "size=%%~zf"
if "%size%"=="" set "size=0"
set "lines=0" & set "fields="
if %size% GTR 0 if %size% LEQ 8000 (
  for /f "usebackq eol=%tab% tokens=1-5 delims=%tab%" %%a in ("%work%\tabs.txt") do (
    set /a lines+=1
    set "t=%%d" & call :rest
    if defined more set "fields=4"
    set "more="
    set "t=%%e" & call :rest
    if defined more set "fields="
    set "t=%%a" & call :lead q1
    set "t=%%b" & call :lead q2
    set "t=%%c" & call :lead q3
    set "t=%%d" & call :lead q4
  )
)
if "%code%"=="0" if "%lines%"=="1" if "%fields%"=="4" set "mode=echo"
if not defined mode if not "%code%"=="9" set "code=failed"
exit /b 0

rem Sets the variable named %1 to an apostrophe when t starts as a formula.
:lead
set "%~1="
if not defined t exit /b 0
set "u=%t:~0,1%"
for %%c in ("=" "+" "-" "@") do if "%u%"==%%c set "%~1='"
set "t="
exit /b 0

rem The bytes the row will add: "name", then the code and either Kelvarin's
rem line as it is, or four quoted facts (its TABs become quote, comma,
rem quote), or four empty fields.
:host
call :lead q0
if not "%mode%"=="echo" set "q1=" & set "q2=" & set "q3=" & set "q4="
if not "%code%"=="0" set "worst=1"
set "names="
for %%f in ("%work%\name.txt") do set "names=%%~zf"
if "%names%"=="" set "names=0"
set /a expect=names-1
if defined q0 set /a expect+=1
if "%code%"=="failed" set /a expect+=5
set /a expect+=1
if "%mode%"=="type" set /a expect+=1+size
if "%mode%"=="echo" set /a expect+=size+9
if not defined mode set /a expect+=6
for %%q in ("%q1%" "%q2%" "%q3%" "%q4%") do if not "%%~q"=="" set /a expect+=1
exit /b 0

:row
if "%mode%"=="type" < nul set /p =%code%,>> "%csv%"
if "%mode%"=="type" type "%work%\line.txt" >> "%csv%"
if "%mode%"=="echo" for /f "usebackq eol=%tab% tokens=1-4 delims=%tab%" %%a in ("%work%\tabs.txt") do >> "%csv%" echo %code%,"%q1%%%a","%q2%%%b","%q3%%%c","%q4%%%d"
if not defined mode >> "%csv%" echo %code%,,,,
:grown
set "after="
for %%f in ("%csv%") do set "after=%%~zf"
if "%after%"=="" set "after=0"
set /a added=after-before
if not "%added%"=="%expect%" set "lost=1"
set "before=%after%"
exit /b 0
