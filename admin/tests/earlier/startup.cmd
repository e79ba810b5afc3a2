@echo off
rem Velmora's startup task: applies the file cache limits at every start, as
rem SYSTEM. Lives beside Velmora.exe in %ProgramFiles%\Velmora\; writes one event
rem to the Application log (source Velmora) and appends to startup.log in
rem %ProgramData%\Velmora\. Ends with Velmora's exit code.
setlocal
set "VELMORA=%~dp0Velmora.exe"
set "DATA=%ProgramData%\Velmora"
set "ARGS=-S 512 4096"
if not exist "%DATA%\" (
    eventcreate /L APPLICATION /SO Velmora /T ERROR /ID 4 /D "Velmora %ARGS% did not run: no folder %DATA%" >nul
    exit /b 3
)
"%VELMORA%" %ARGS% >"%DATA%\startup.last" 2>&1
set CODE=%ERRORLEVEL%
set "LINE="
for /f "usebackq delims=" %%L in ("%DATA%\startup.last") do if not defined LINE set "LINE=%%L"
if not defined LINE set "LINE=no output"
set "LINE=%LINE:"='%"
>>"%DATA%\startup.log" echo %DATE% %TIME% Velmora %ARGS%: exit code %CODE%
type "%DATA%\startup.last" >>"%DATA%\startup.log"
set TYPE=ERROR
if "%CODE%"=="0" set TYPE=INFORMATION
set ID=4
if "%CODE%"=="0" set ID=1
if "%CODE%"=="1" set ID=2
if "%CODE%"=="255" set ID=3
eventcreate /L APPLICATION /SO Velmora /T %TYPE% /ID %ID% /D "Velmora %ARGS%: exit code %CODE%: %LINE%" >nul
exit /b %CODE%
