@echo off
rem Velmora's startup script, for tasks that an earlier Velmora registered to
rem run %ProgramFiles%\Velmora\startup.cmd with the sizes written inside it. An
rem archive unpacked over the folder, or the module, leaves such a script as it
rem is; an MSI upgrade removes it with the earlier package and installs this
rem one (the MSI installs it everywhere, for such tasks), which applies the sizes that the earlier script last ran with, from the
rem line it appended to %ProgramData%\Velmora\startup.log at each run
rem ("... Velmora -S 512 4096: exit code 0"). VelmoraState.exe beside it sets
rem them, writes the run's event to the Application log, and gives the exit
rem code. With no such line it sets nothing and writes event 3. Run
rem Register-VelmoraStartupTask, or register VelmoraStartupTask.xml, to give the
rem task its wanted state in its own arguments instead.
setlocal
set "LOG=%ProgramData%\Velmora\startup.log"
set "SIZES="
if exist "%LOG%" for /f "usebackq delims=" %%L in ("%LOG%") do call :Sizes %%L
"%~dp0VelmoraState.exe" set %SIZES% --allow-above-memory --event-log <nul
exit /b %ERRORLEVEL%

rem The words of one line of the log: where "Velmora -S MIN MAX:" is among them,
rem the sizes to apply, as VelmoraState takes them. Each such line replaces the
rem one before it, so the last one counts.
:Sizes
if "%~1"=="" goto :eof
if "%~1"=="Velmora" if "%~2"=="-S" (
    for /f "delims=:" %%M in ("%~4") do set "SIZES=--minimum %~3MB --maximum %%MMB"
    goto :eof
)
shift
goto Sizes
