# Checks with nm -D what the two binaries export by plain name: the plug-in its
# seven entry points, the host exactly its 20 services, a host built without a
# service all but that one; neither host exports anything else.
cmake_minimum_required(VERSION 3.25)
function(defined_symbols file out)
    execute_process(COMMAND ${NM} -D --defined-only ${file}
                    OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "nm -D failed on ${file}")
    endif()
    string(REGEX MATCHALL "[^\n]+" lines "${listing}")
    set(names "")
    foreach(line IN LISTS lines)
        if(line MATCHES " [A-Za-z] ([A-Za-z_.][A-Za-z0-9_.@]*)$")
            list(APPEND names ${CMAKE_MATCH_1})
        endif()
    endforeach()
    set(${out} ${names} PARENT_SCOPE)
endfunction()

function(sorted_symbols file out)
    defined_symbols(${file} names)
    list(SORT names)
    set(${out} ${names} PARENT_SCOPE)
endfunction()

defined_symbols(${PLUGIN} plugin_names)
foreach(name createPlugin getAuthor getGUIScript getHelpFile getPluginDescription getPluginName getPluginVersion)
    if(NOT name IN_LIST plugin_names)
        message(FATAL_ERROR "the plug-in does not export ${name}")
    endif()
endforeach()

# The list comes from the host kit's rows; an empty or doubled one would make
# the comparisons below vacuous or wrong.
set(expected ${SERVICES})
list(LENGTH expected count)
list(REMOVE_DUPLICATES expected)
list(LENGTH expected distinct)
if(count EQUAL 0 OR NOT count EQUAL distinct)
    message(FATAL_ERROR "the build's list of services is empty or names one twice: ${SERVICES}")
endif()
list(SORT expected)
sorted_symbols(${HOST} host_names)
if(NOT host_names STREQUAL expected)
    message(FATAL_ERROR "the host exports\n  ${host_names}\ninstead of\n  ${expected}")
endif()

list(REMOVE_ITEM expected ${VARIANT_LACKS})
sorted_symbols(${VARIANT} variant_names)
if(NOT variant_names STREQUAL expected)
    message(FATAL_ERROR "the host without ${VARIANT_LACKS} exports\n  ${variant_names}")
endif()
message(STATUS "exports as expected")
