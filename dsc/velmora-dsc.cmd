@rem Runs the DSC 3 resource Velmora/FileCacheLimit in Windows PowerShell, which every
@rem Windows has; velmora.dsc.resource.json names this file.
@powershell.exe -NoLogo -NoProfile -NonInteractive -ExecutionPolicy Bypass -File "%~dp0velmora-dsc.ps1" %*
@exit /b %ERRORLEVEL%
