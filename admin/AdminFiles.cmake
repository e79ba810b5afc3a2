# The administrator's files that ship beside Velmora.exe in both archives and
# the MSI: the startup task's definition, which the module also ships and
# registers, and the record and restore scripts for machines without the
# module. The definition (VelmoraStartupTask.xml) runs
# %ProgramFiles%\Velmora\VelmoraState.exe with its wanted state in its
# arguments, as SYSTEM at every start, on battery too, for five minutes at the
# most; it is in UTF-16, as schtasks /xml reads it, and holds the task alone.
set(VELMORA_STARTUP_FILES "${CMAKE_CURRENT_LIST_DIR}/VelmoraStartupTask.xml")
# The scripts among them that a signed release signs, as PowerShell checks them.
set(VELMORA_ADMIN_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/record.ps1" "${CMAKE_CURRENT_LIST_DIR}/restore.ps1")
set(VELMORA_ADMIN_FILES ${VELMORA_STARTUP_FILES} ${VELMORA_ADMIN_SCRIPTS})
# The MSI alone carries startup.cmd, for tasks that an earlier Velmora
# registered: its upgrade removes the earlier package's script, and this one
# applies the sizes that script last logged; it never replaces a script that is
# there. An archive unpacked over the folder leaves the machine's script alone,
# as it carries none.
set(VELMORA_EARLIER_STARTUP "${CMAKE_CURRENT_LIST_DIR}/startup.cmd")
