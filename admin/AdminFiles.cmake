# The administrator's files that ship beside Velmora.exe in both archives and
# the MSI: the startup task's script and its definition, which the module also
# ships and registers, and the record and restore scripts for machines without
# the module. The definition (VelmoraStartupTask.xml) runs
# %ProgramFiles%\Velmora\startup.cmd as SYSTEM at every start, on battery too,
# for five minutes at the most; it is in UTF-16, as schtasks /xml reads it, and
# holds the task alone.
set(VELMORA_STARTUP_FILES "${CMAKE_CURRENT_LIST_DIR}/startup.cmd" "${CMAKE_CURRENT_LIST_DIR}/VelmoraStartupTask.xml")
# The scripts among them that a signed release signs, as PowerShell checks them.
set(VELMORA_ADMIN_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/record.ps1" "${CMAKE_CURRENT_LIST_DIR}/restore.ps1")
set(VELMORA_ADMIN_FILES ${VELMORA_STARTUP_FILES} ${VELMORA_ADMIN_SCRIPTS})
