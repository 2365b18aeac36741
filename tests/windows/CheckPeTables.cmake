# Checks with objdump -p what the Windows binaries export and import: the
# plug-in's export directory names the module Quorvex.dll and holds exactly the
# seven plain entry points and the exported class members; the plug-in imports
# KERNEL32.dll and the C runtime and nothing else; the host exports exactly
# its 20 services.
cmake_minimum_required(VERSION 3.25)

function(pe_listing file out)
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objdump -p failed on ${file}")
    endif()
    set(${out} "${listing}" PARENT_SCOPE)
endfunction()

# The names of the [Ordinal/Name Pointer] Table, sorted.
function(exported_names listing out)
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" table "${listing}")
    # Brackets would upset CMake's list splitting: keep only the names.
    string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" names "${CMAKE_MATCH_1}")
    list(SORT names)
    set(${out} ${names} PARENT_SCOPE)
endfunction()

function(expect_equal what actual expected)
    if(NOT "${actual}" STREQUAL "${expected}")
        string(REPLACE ";" "\n  " shown "${actual}")
        string(REPLACE ";" "\n  " wanted "${expected}")
        message(FATAL_ERROR "${what}:\n  ${shown}\ninstead of\n  ${wanted}")
    endif()
endfunction()

pe_listing(${PLUGIN} plugin)

if(NOT plugin MATCHES "\nName[ \t]+[0-9a-f]+ ([^\n]+)\n")
    message(FATAL_ERROR "no export directory in ${PLUGIN}")
endif()
expect_equal("the plug-in's export directory names the module" "${CMAKE_MATCH_1}" "Quorvex.dll")

# Plain names first (no underscore, no @n), then the members of the two classes.
set(expected
    _ZN19CVTSPluginInterfaceC1ERKS_ _ZN19CVTSPluginInterfaceC1Ev _ZN19CVTSPluginInterfaceC2ERKS_
    _ZN19CVTSPluginInterfaceC2Ev _ZN19CVTSPluginInterfaceD0Ev _ZN19CVTSPluginInterfaceD1Ev
    _ZN19CVTSPluginInterfaceD2Ev _ZN19CVTSPluginInterfaceaSERKS_
    _ZN7quorvex10initPluginEv _ZN7quorvex7executeEv _ZN7quorvexC1Ev _ZN7quorvexC2Ev
    _ZN7quorvexD0Ev _ZN7quorvexD1Ev _ZN7quorvexD2Ev
    _ZTI19CVTSPluginInterface _ZTV19CVTSPluginInterface
    createPlugin getAuthor getGUIScript getHelpFile getPluginDescription getPluginName getPluginVersion)
list(SORT expected)
exported_names("${plugin}" plugin_exports)
expect_equal("the plug-in exports" "${plugin_exports}" "${expected}")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${plugin}")
set(imported "")
foreach(line IN LISTS imports)
    string(SUBSTRING "${line}" 10 -1 dll)
    string(TOLOWER "${dll}" lower)
    if(NOT lower STREQUAL "kernel32.dll" AND NOT lower STREQUAL "msvcrt.dll" AND NOT lower MATCHES "^api-ms-win-crt-")
        message(FATAL_ERROR "the plug-in imports ${dll}; only KERNEL32.dll and the C runtime are allowed")
    endif()
    list(APPEND imported "${dll}")
endforeach()
if(NOT "KERNEL32.dll" IN_LIST imported)
    message(FATAL_ERROR "the plug-in does not import KERNEL32.dll (GetModuleHandleA, GetProcAddress)")
endif()

pe_listing(${HOST} host)
set(expected ${SERVICES})
list(SORT expected)
exported_names("${host}" host_exports)
expect_equal("the host exports" "${host_exports}" "${expected}")
if(NOT host MATCHES "\nName[ \t]+[0-9a-f]+ Corvantis.exe\n")
    message(FATAL_ERROR "the host's export directory does not name Corvantis.exe")
endif()

list(JOIN imported ", " shown)
message(STATUS "export directory Quorvex.dll, imports ${shown}, host exports its 20 services")
