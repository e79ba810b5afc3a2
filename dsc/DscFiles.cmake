# The DSC 3 resource's files, as they ship beside the 64-bit Velmora.exe (in the
# x64 archive, the MSI and the module's bin\x64): the manifest, which the build
# writes with the project's version into <build>/dsc, and the script and the
# launcher, as they are.
set(VELMORA_DSC_SOURCES "${CMAKE_CURRENT_LIST_DIR}/velmora-dsc.ps1" "${CMAKE_CURRENT_LIST_DIR}/velmora-dsc.cmd")
set(VELMORA_DSC_MANIFEST "${CMAKE_BINARY_DIR}/dsc/velmora.dsc.resource.json")
