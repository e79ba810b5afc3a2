# The DSC 3 resource as it ships beside the 64-bit VelmoraState.exe that it runs
# (in the x64 archive, the MSI and the module's bin\x64): its manifest, which the
# build writes with the project's version into <build>/dsc.
set(VELMORA_DSC_MANIFEST "${CMAKE_BINARY_DIR}/dsc/velmora.dsc.resource.json")
