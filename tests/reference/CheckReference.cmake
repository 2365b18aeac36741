# Runs Corvantis on the stored run and designs in a fresh folder and compares
# the SHA-256 of every output and of the log with the stored manifest. A
# .nii.gz is hashed decompressed (by gzip, which must accept it): its values
# and header are fixed, while the compressed stream may change with the
# compressor.
#   cmake -DCORVANTIS=PROGRAM -DCASE=plain|nifti -DWORK=FOLDER [-DREGENERATE=ON] -P CheckReference.cmake
# With REGENERATE the manifest is rewritten from this run instead.
cmake_minimum_required(VERSION 3.25)

set(here ${CMAKE_CURRENT_LIST_DIR})
set(inputs run.fmr run.stc model1.sdm model2.sdm)
set(args --fmr run.fmr --set sdmfile1=model1.sdm --set sdmfile2=model2.sdm --set residuals1=1 --set residuals2=1)
if(CASE STREQUAL "plain")
elseif(CASE STREQUAL "nifti")
    list(APPEND args --nifti)
else()
    message(FATAL_ERROR "CASE must be plain or nifti, not '${CASE}'")
endif()
list(APPEND args start)
set(manifest ${here}/manifest-${CASE}.txt)

foreach(var CORVANTIS WORK)
    if(NOT ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

find_program(GZIP gzip REQUIRED)

# The SHA-256 of an output as the manifest holds it.
function(output_hash name result)
    if(name MATCHES "\\.nii\\.gz$")
        set(plain ${WORK}-decompressed/${name})
        file(MAKE_DIRECTORY ${WORK}-decompressed)
        execute_process(COMMAND ${GZIP} -dc ${WORK}/${name} OUTPUT_FILE ${plain} RESULT_VARIABLE status)
        if(NOT status STREQUAL "0")
            set(${result} "gzip-refused" PARENT_SCOPE)
            return()
        endif()
        file(SHA256 ${plain} hash)
    else()
        file(SHA256 ${WORK}/${name} hash)
    endif()
    set(${result} ${hash} PARENT_SCOPE)
endfunction()

# Relative paths, run from inside the folder: no output may depend on where it is.
file(REMOVE_RECURSE ${WORK} ${WORK}-decompressed)
file(MAKE_DIRECTORY ${WORK})
foreach(input IN LISTS inputs)
    file(COPY ${here}/${input} DESTINATION ${WORK})
endforeach()
execute_process(COMMAND ${CORVANTIS} ${args}
                WORKING_DIRECTORY ${WORK}
                OUTPUT_FILE ${WORK}/log.txt
                ERROR_VARIABLE errors
                RESULT_VARIABLE status)
# The host's only line on stderr: its count of the voxels the start analysed.
set(expected_errors "Corvantis: 272 of 720 voxels analysed (time course above the threshold 100 in every volume)\n")
if(NOT status STREQUAL "0" OR NOT errors STREQUAL expected_errors)
    message(FATAL_ERROR "Corvantis ${args} ended with ${status}:\n${errors}")
endif()

# Every file in the folder but the inputs is an output; the log is one too.
file(GLOB outputs RELATIVE ${WORK} ${WORK}/*)
list(REMOVE_ITEM outputs ${inputs})
list(SORT outputs)

if(REGENERATE)
    set(text "")
    foreach(name IN LISTS outputs)
        output_hash(${name} hash)
        string(APPEND text "${hash}  ${name}\n")
    endforeach()
    file(WRITE ${manifest} "${text}")
    list(LENGTH outputs count)
    message(STATUS "wrote ${manifest} (${count} files)")
    return()
endif()

file(STRINGS ${manifest} lines)
set(problems "")
set(listed "")
foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
        message(FATAL_ERROR "bad manifest line in ${manifest}: '${line}'")
    endif()
    set(expected ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_2})
    list(APPEND listed ${name})
    if(NOT EXISTS ${WORK}/${name})
        string(APPEND problems "missing:    ${name}\n")
        continue()
    endif()
    output_hash(${name} actual)
    if(NOT actual STREQUAL expected)
        string(APPEND problems "differs:    ${name} (sha256 ${actual}, stored ${expected})\n")
    endif()
endforeach()
foreach(name IN LISTS outputs)
    if(NOT name IN_LIST listed)
        string(APPEND problems "unexpected: ${name}\n")
    endif()
endforeach()

if(NOT problems STREQUAL "")
    # NOTICE prints the text as it is: the log's blanks and blank lines count.
    file(READ ${WORK}/log.txt log)
    message(NOTICE "${problems}log (${WORK}/log.txt):\n${log}")
    message(FATAL_ERROR "outputs in ${WORK} differ from ${manifest}")
endif()
list(LENGTH listed count)
message(STATUS "all ${count} outputs match ${manifest}")
