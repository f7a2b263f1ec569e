#!/bin/sh
# Copies the WMI stand-in's COM server (standin_server.dll, built by the
# windows-ci presets) into PREFIX as C:\kelvarin-standin\standin_server.dll and
# registers it as the COM server of "WbemScripting.SWbemLocator", where a
# kelvarin.exe as wide as the prefix looks for it. The stand-in then reads its
# firmware from C:\kelvarin-standin\sys. Prints the folder's path.
#   tools/wine-standin.sh PREFIX STANDIN_DLL
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prefix=$1 dll=$2
folder="$prefix/drive_c/kelvarin-standin"
clsid=$(sed -n 's/.*kStandinClsid = "\(.*\)";/\1/p' "$here/winver/standin_server.cpp")
mkdir -p "$folder"
cp "$dll" "$folder/standin_server.dll"
key='[HKEY_LOCAL_MACHINE\Software\Classes'
printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "$key\\WbemScripting.SWbemLocator\\CLSID]" \
  "@=\"$clsid\"" '' "$key\\CLSID\\$clsid\\InprocServer32]" \
  '@="C:\\kelvarin-standin\\standin_server.dll"' '"ThreadingModel"="Both"' >"$folder/register.reg"
# Into the 64-bit view on a 64-bit prefix, where the x64 kelvarin.exe looks.
"$here/wine.sh" "$prefix" reg import 'C:\kelvarin-standin\register.reg' /reg:64 >/dev/null 2>&1
echo "$folder"
