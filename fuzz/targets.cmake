# The fuzz targets: each <name>.cpp holds LLVMFuzzerTestOneInput and Seeds(). Included by
# fuzz/ (the libFuzzer programs) and by tests/fuzz/ (the replay programs CTest runs).
set(TAPFIX_FUZZ_TARGETS frames device_answers sahara xml_config profile package signature sim_deframer xqcn)
set(TAPFIX_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

function(tapfix_fuzz_support)
    if(TARGET tapfix_fuzz_support)
        return()
    endif()
    add_library(tapfix_fuzz_support STATIC
        ${TAPFIX_FUZZ_DIR}/answer_seeds.cpp
        ${TAPFIX_FUZZ_DIR}/device_operations.cpp
        ${TAPFIX_FUZZ_DIR}/scratch_folder.cpp
        ${TAPFIX_FUZZ_DIR}/scripted_device.cpp)
    target_include_directories(tapfix_fuzz_support PUBLIC ${TAPFIX_FUZZ_DIR})
    target_link_libraries(tapfix_fuzz_support PUBLIC tapfix_device tapfix_config tapfix_sim_lib
                                                     tapfix_reference tapfix_nv tapfix_options)
endfunction()

# The target as an ordinary program: its seeds, then the inputs of the folders it is given.
function(tapfix_add_fuzz_replay name)
    tapfix_fuzz_support()
    if(NOT TARGET fuzz_${name}_replay)
        add_executable(fuzz_${name}_replay ${TAPFIX_FUZZ_DIR}/${name}.cpp
                                           ${TAPFIX_FUZZ_DIR}/replay_main.cpp)
        target_link_libraries(fuzz_${name}_replay PRIVATE tapfix_fuzz_support)
    endif()
endfunction()
