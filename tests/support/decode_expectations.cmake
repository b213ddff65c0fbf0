# What stock stb_image makes of every corpus file, as the corpus's own decode-check program
# reports it, compiled with the stb headers of this build: the expectations of corpus_test, for
# whichever stb version the library is built with. The program runs twice, with the heap filled
# with different patterns; a file whose pixels differ (stb leaves some unset), or that the
# corpus's own table marks so, is marked "unstable".
#   cmake -DPROGRAM=decode-check -DEMULATOR=a|b -DCORPUS=dir -DOUTPUT=file -P decode_expectations.cmake
cmake_minimum_required(VERSION 3.20)
file(STRINGS ${CORPUS}/expected-decode.tsv corpus_lines)
list(POP_FRONT corpus_lines header)
set(paths "")
set(unstable "")
foreach(line IN LISTS corpus_lines)
    string(REGEX MATCH "^[^\t]+" path "${line}")
    list(APPEND paths ${path})
    if(line MATCHES "\tunstable$")
        list(APPEND unstable ${path})
    endif()
endforeach()

string(REPLACE "|" ";" emulator "${EMULATOR}")
foreach(fill 85 170)
    set(ENV{MALLOC_PERTURB_} ${fill})
    execute_process(COMMAND ${emulator} ${PROGRAM} ${paths} WORKING_DIRECTORY ${CORPUS}
                    OUTPUT_VARIABLE output RESULT_VARIABLE status ERROR_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} failed (${status})")
    endif()
    string(REPLACE "\r" "" output "${output}")
    string(REGEX REPLACE "\n$" "" output "${output}")
    string(REPLACE "\n" ";" lines_${fill} "${output}")
endforeach()

list(LENGTH paths count)
list(LENGTH lines_85 got)
if(NOT got EQUAL count)
    message(FATAL_ERROR "${PROGRAM} reported ${got} files of ${count}")
endif()
set(table "${header}\n")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    list(GET lines_85 ${i} line)
    list(GET lines_170 ${i} again)
    list(GET paths ${i} path)
    if(NOT line STREQUAL again OR path IN_LIST unstable)
        string(REGEX REPLACE "\t[0-9a-f]+$" "\tunstable" line "${line}")
    endif()
    string(APPEND table "${line}\n")
endforeach()
file(WRITE ${OUTPUT} "${table}")
